#pragma once

#include "platform/QXResource.h"

#include <span>

// The pictures compiled into the model library (src/model/resources, drawn by tools/artgen),
// each named by its file name without ".png". Look one up with findResource.
std::span<const QXResourceData> qxModelResources();
