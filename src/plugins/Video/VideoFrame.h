#pragma once

#include "pluginhost/QXPluginInterfaces.h"

#include <cstdint>

namespace VideoFrame {

struct Size {
    int width;
    int height;
};

// The size a width x height picture is drawn at on a 48x48 key: 48 rows high with the
// width in proportion, or, when that would be wider than the key, 48 columns wide with the
// height in proportion (whole pixels, rounded down; never below one pixel).
// 320x240 -> 48x36, 240x320 -> 36x48, 100x100 -> 48x48.
Size fitToKey(int width, int height);

// Clears the surface to black and copies a fitted top-down RGB picture (stride bytes a row)
// into its centre, into the surface's bottom-up blue-green-red rows.
void draw(QXDrawingSurface& surface, const uint8_t* rgb, int width, int height, int stride);

// Clears the surface to black.
void clear(QXDrawingSurface& surface);

} // namespace VideoFrame
