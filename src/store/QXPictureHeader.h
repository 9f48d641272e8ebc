#pragma once

#include <FreeImage.h>
#include <span>
#include <string>

// What a picture file claims to be, read from its first bytes without decoding it. The
// program reads only the formats its file dialogs offer (PNG, BMP, JPEG, GIF, TIFF and
// PSD), recognised by content whatever the file is called, and only pictures whose
// header keeps them within kMaxPixels.
namespace QXPictureHeader {

constexpr unsigned long long kMaxPixels = 20'000'000ULL;

struct Header {
    FREE_IMAGE_FORMAT format = FIF_UNKNOWN;
    unsigned long long width = 0;
    unsigned long long height = 0;
    // Empty when the picture may be decoded; otherwise why not, for a log line.
    std::string refusal;
};

bool isAcceptedFormat(FREE_IMAGE_FORMAT format);

// The format by content and the largest size the header declares (for GIF the logical
// screen and every frame, for the others what FreeImage reads without pixels).
Header read(std::span<const unsigned char> bytes);

} // namespace QXPictureHeader
