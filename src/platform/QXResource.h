#pragma once

#include <cstddef>
#include <span>
#include <string_view>

// A raw-data resource compiled into a target (see qx_embed_resources in CMake).
struct QXResourceData {
    const char* name;
    const unsigned char* data;
    size_t size;
};

// The resource of the given name in the table, compared without regard to ASCII
// case; nullptr when there is none.
const QXResourceData* findResource(std::span<const QXResourceData> table, std::string_view name);
