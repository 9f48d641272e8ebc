#include "VideoFrame.h"

#include <algorithm>
#include <cstring>

namespace VideoFrame {

Size fitToKey(int width, int height) {
    if (width <= 0 || height <= 0)
        return {0, 0};
    int64_t fittedWidth = int64_t(width) * 48 / height;
    int64_t fittedHeight = 48;
    if (fittedWidth >= 49) {
        fittedWidth = 48;
        fittedHeight = int64_t(height) * 48 / width;
    }
    return {static_cast<int>(std::max<int64_t>(fittedWidth, 1)),
            static_cast<int>(std::max<int64_t>(fittedHeight, 1))};
}

void clear(QXDrawingSurface& surface) {
    if (!surface.bits)
        return;
    for (int y = 0; y < surface.height; ++y)
        std::memset(surface.bits + y * surface.stride, 0, size_t(surface.width) * 3);
}

void draw(QXDrawingSurface& surface, const uint8_t* rgb, int width, int height, int stride) {
    clear(surface);
    if (!surface.bits || !rgb)
        return;
    width = std::min(width, surface.width);
    height = std::min(height, surface.height);
    const int left = (surface.width - width) / 2;
    const int top = (surface.height - height) / 2;
    for (int y = 0; y < height; ++y) {
        const uint8_t* from = rgb + size_t(y) * stride;
        // The surface's rows run bottom-up.
        uint8_t* to = surface.bits + size_t(surface.height - 1 - (top + y)) * surface.stride +
                      size_t(left) * 3;
        for (int x = 0; x < width; ++x, from += 3, to += 3) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
        }
    }
}

} // namespace VideoFrame
