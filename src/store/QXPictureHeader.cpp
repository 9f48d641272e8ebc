#include "store/QXPictureHeader.h"

#include <FreeImagePlus.h>
#include <algorithm>

namespace QXPictureHeader {

namespace {

struct Size {
    unsigned long long width = 0;
    unsigned long long height = 0;
};

unsigned le16(const unsigned char* p) {
    return p[0] | (static_cast<unsigned>(p[1]) << 8);
}

// FreeImage reads no GIF header alone and sizes its bitmap by the frame (or by the
// logical screen when asked to play the animation), so every one of them is checked:
// the size returned is the largest width and height any of them claims.
bool gifSize(std::span<const unsigned char> b, Size& size) {
    if (b.size() < 13)
        return false;
    size.width = le16(&b[6]);
    size.height = le16(&b[8]);
    size_t at = 13;
    if (b[10] & 0x80)
        at += 3u << ((b[10] & 7) + 1);
    auto skipSubBlocks = [&] {
        while (at < b.size() && b[at] != 0)
            at += 1u + b[at];
        ++at; // the terminator
    };
    while (at < b.size()) {
        const unsigned char block = b[at++];
        if (block == 0x3B) // trailer
            break;
        if (block == 0x21) { // extension: label, then sub-blocks
            ++at;
            skipSubBlocks();
        } else if (block == 0x2C) { // image descriptor
            if (at + 9 > b.size())
                break;
            size.width = std::max<unsigned long long>(size.width, le16(&b[at + 4]));
            size.height = std::max<unsigned long long>(size.height, le16(&b[at + 6]));
            const unsigned char flags = b[at + 8];
            at += 9;
            if (flags & 0x80)
                at += 3u << ((flags & 7) + 1);
            ++at; // LZW minimum code size
            skipSubBlocks();
        } else {
            break; // broken from here on; the decoder stops there too
        }
    }
    return true;
}

bool noPixelsSize(FREE_IMAGE_FORMAT format, std::span<const unsigned char> b, Size& size) {
    // FreeImage reads from the buffer only; the cast drops a const it never uses.
    fipMemoryIO memory(const_cast<BYTE*>(b.data()), static_cast<DWORD>(b.size()));
    fipImage header;
    if (!header.loadFromMemory(format, memory, FIF_LOAD_NOPIXELS))
        return false;
    size.width = header.getWidth();
    size.height = header.getHeight();
    return true;
}

const char* formatName(FREE_IMAGE_FORMAT format) {
    const char* name = FreeImage_GetFormatFromFIF(format);
    return name ? name : "unknown";
}

} // namespace

bool isAcceptedFormat(FREE_IMAGE_FORMAT format) {
    switch (format) {
    case FIF_PNG:
    case FIF_BMP:
    case FIF_JPEG:
    case FIF_GIF:
    case FIF_TIFF:
    case FIF_PSD:
        return true;
    default:
        return false;
    }
}

Header read(std::span<const unsigned char> bytes) {
    Header header;
    if (bytes.empty()) {
        header.refusal = "the file is empty";
        return header;
    }
    fipMemoryIO memory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
    header.format = memory.getFileType();
    if (header.format == FIF_UNKNOWN) {
        header.refusal = "it is not a picture in a known format";
        return header;
    }
    if (!isAcceptedFormat(header.format)) {
        header.refusal = std::string("it is a ") + formatName(header.format) +
                         " picture; key pictures are read from PNG, BMP, JPEG, GIF, TIFF "
                         "and PSD files only";
        return header;
    }
    Size size;
    const bool read = header.format == FIF_GIF ? gifSize(bytes, size)
                                               : noPixelsSize(header.format, bytes, size);
    if (!read) {
        header.refusal = std::string("its ") + formatName(header.format) +
                         " header cannot be read";
        return header;
    }
    header.width = size.width;
    header.height = size.height;
    if (size.width == 0 || size.height == 0) {
        header.refusal = "its header gives it no pixels";
    } else if (size.width * size.height > kMaxPixels) {
        header.refusal = "its header claims " + std::to_string(size.width) + " x " +
                         std::to_string(size.height) + " pixels, more than " +
                         std::to_string(kMaxPixels / 1'000'000) + " million";
    }
    return header;
}

} // namespace QXPictureHeader
