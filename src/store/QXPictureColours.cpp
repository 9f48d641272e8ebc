#include "store/QXPictureColours.h"

#include <initializer_list>

namespace QXPictureColours {

namespace {

BYTE fromUnit(float value) {
    if (!(value > 0.0f)) // also NaN
        return 0;
    if (value >= 1.0f)
        return 255;
    return static_cast<BYTE>(value * 255.0f + 0.5f);
}

// 16-bit and float pictures go through FreeImage's RGBA float form (channels 0 to 1,
// 16-bit values divided by 65535) and are rounded to 8 bits from there.
FIBITMAP* fromWideType(FIBITMAP* source) {
    const FREE_IMAGE_TYPE type = FreeImage_GetImageType(source);
    const bool alpha = type == FIT_RGBA16 || type == FIT_RGBAF;
    FIBITMAP* wide = FreeImage_ConvertToRGBAF(source);
    if (!wide)
        return nullptr;
    const unsigned width = FreeImage_GetWidth(wide), height = FreeImage_GetHeight(wide);
    FIBITMAP* out = FreeImage_Allocate(static_cast<int>(width), static_cast<int>(height),
                                       alpha ? 32 : 24);
    if (out) {
        const unsigned step = alpha ? 4 : 3;
        for (unsigned y = 0; y < height; ++y) {
            const auto* in = reinterpret_cast<const FIRGBAF*>(FreeImage_GetScanLine(wide, y));
            BYTE* line = FreeImage_GetScanLine(out, y);
            for (unsigned x = 0; x < width; ++x, line += step) {
                line[FI_RGBA_RED] = fromUnit(in[x].red);
                line[FI_RGBA_GREEN] = fromUnit(in[x].green);
                line[FI_RGBA_BLUE] = fromUnit(in[x].blue);
                if (alpha)
                    line[FI_RGBA_ALPHA] = fromUnit(in[x].alpha);
            }
        }
    }
    FreeImage_Unload(wide);
    return out;
}

bool alphaAllZero(FIBITMAP* dib) {
    const unsigned width = FreeImage_GetWidth(dib), height = FreeImage_GetHeight(dib);
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* line = FreeImage_GetScanLine(dib, y);
        for (unsigned x = 0; x < width; ++x)
            if (line[x * 4 + FI_RGBA_ALPHA] != 0)
                return false;
    }
    return true;
}

void makeOpaque(FIBITMAP* dib) {
    const unsigned width = FreeImage_GetWidth(dib), height = FreeImage_GetHeight(dib);
    for (unsigned y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(dib, y);
        for (unsigned x = 0; x < width; ++x)
            line[x * 4 + FI_RGBA_ALPHA] = 255;
    }
}

} // namespace

bool toStandard(fipImage& picture) {
    FIBITMAP* dib = picture;
    if (!dib || !FreeImage_HasPixels(dib))
        return false;
    const FREE_IMAGE_TYPE type = FreeImage_GetImageType(dib);
    const unsigned bpp = FreeImage_GetBPP(dib);
    FIBITMAP* converted = nullptr;
    switch (type) {
    case FIT_BITMAP:
        if (bpp == 24 || bpp == 32)
            return true;
        // Palettes with a transparency table keep it as alpha.
        converted = FreeImage_IsTransparent(dib) ? FreeImage_ConvertTo32Bits(dib)
                                                 : FreeImage_ConvertTo24Bits(dib);
        break;
    case FIT_UINT16:
    case FIT_RGB16:
    case FIT_RGBA16:
    case FIT_FLOAT:
    case FIT_RGBF:
    case FIT_RGBAF:
        converted = fromWideType(dib);
        break;
    default: {
        // Measurement types (signed, 32-bit, double, complex) have no colour meaning:
        // their range is stretched to grey.
        FIBITMAP* grey = FreeImage_ConvertToStandardType(dib, TRUE);
        if (grey) {
            converted = FreeImage_ConvertTo24Bits(grey);
            FreeImage_Unload(grey);
        }
        break;
    }
    }
    if (!converted)
        return false;
    picture = converted; // takes ownership, frees the old pixels
    return true;
}

void treatUnusedAlphaAsOpaque(fipImage& picture) {
    FIBITMAP* dib = picture;
    if (dib && FreeImage_GetImageType(dib) == FIT_BITMAP && FreeImage_GetBPP(dib) == 32 &&
        alphaAllZero(dib))
        makeOpaque(dib);
}

bool to24Bits(fipImage& picture) {
    if (!toStandard(picture))
        return false;
    if (picture.getBitsPerPixel() == 24)
        return true;
    const unsigned width = picture.getWidth(), height = picture.getHeight();
    FIBITMAP* out = FreeImage_Allocate(static_cast<int>(width), static_cast<int>(height), 24);
    if (!out)
        return false;
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* in = picture.getScanLine(y);
        BYTE* line = FreeImage_GetScanLine(out, y);
        for (unsigned x = 0; x < width; ++x, in += 4, line += 3) {
            const unsigned alpha = in[FI_RGBA_ALPHA];
            for (int c : {FI_RGBA_RED, FI_RGBA_GREEN, FI_RGBA_BLUE})
                line[c] = static_cast<BYTE>((in[c] * alpha + 127) / 255);
        }
    }
    picture = out;
    return true;
}

} // namespace QXPictureColours
