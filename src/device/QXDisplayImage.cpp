#include "device/QXDisplayImage.h"

namespace QXDisplayImage {

bool convert(const QXBitmapView& source, bool rotate, std::array<uint8_t, kBytes>& out) {
    if (!source.bits || source.width != kSide || source.height != kSide ||
        (source.bitsPerPixel != 24 && source.bitsPerPixel != 32))
        return false;
    const int bytesPerPixel = source.bitsPerPixel / 8;
    // (row, column) of the picture counted from the top; the source is stored bottom-up.
    auto pixel = [&](int row, int column) {
        return source.bits + static_cast<ptrdiff_t>(kSide - 1 - row) * source.stride +
               column * bytesPerPixel;
    };
    out.fill(0);
    for (int k = 0; k < kSide; ++k) {
        for (int j = 0; j < kSide; ++j) {
            // A quarter turn clockwise: output row k, column j shows source row 47 - j,
            // column k.
            const uint8_t* p = rotate ? pixel(kSide - 1 - j, k) : pixel(k, j);
            packPixel(p[2], p[1], p[0], &out[static_cast<size_t>(k * kSide + j) * 2]);
        }
    }
    return true;
}

} // namespace QXDisplayImage
