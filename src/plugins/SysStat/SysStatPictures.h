#pragma once

#include "SysStatFigures.h"

#include <cstdint>

class QPainter;

// The pictures of the SysStat views on a 48 x 48 key, each painted over the whole square.
// Text is anti-aliased, and drawn smaller when it would not fit across the key; squares and
// bars are not anti-aliased. Text needs a QGuiApplication.
namespace SysStatPictures {

// The newest load as "N%" centred on (24, 12), and per sample, oldest first, a column at
// x = 1 + 3k of load / 10 + 1 squares of 2 x 2 pixels from y 46 upwards, 3 pixels apart,
// the lowest kernel / 10 of them red-orange, the rest green.
void paintCpu(QPainter& painter, const SysStatFigures::CCpuHistory& history);

// "N MB" centred on the key, and a bar at y 44, 4 high: the used share of physical memory
// in orange from the left, the rest green.
void paintMem(QPainter& painter, uint32_t availableMiB, int loadPercent);

// The receive rate after a downwards arrow centred on (24, 12), the send rate after an
// upwards arrow centred on (24, 36).
void paintNet(QPainter& painter, uint64_t received, uint64_t sent);

} // namespace SysStatPictures
