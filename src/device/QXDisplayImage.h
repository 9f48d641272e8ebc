#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// A picture as the program holds it for a key: width x height pixels, 24 bits (B, G, R)
// or 32 bits (B, G, R and an ignored byte) per pixel, rows bottom-up, stride bytes apart.
struct QXBitmapView {
    const uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    int stride = 0;
};

// The keyboard's display file format: 48 x 48 pixels, top row first, two bytes per pixel
// in RGB 5-6-5, high byte first.
namespace QXDisplayImage {

constexpr int kSide = 48;
constexpr size_t kBytes = kSide * kSide * 2; // 4608

// Packs one pixel. Green below 8 counts as 0: the keyboard's panels tint a near-black
// green otherwise.
inline void packPixel(uint8_t r, uint8_t g, uint8_t b, uint8_t* out) {
    if (g < 8)
        g = 0;
    out[0] = static_cast<uint8_t>((r & 0xF8) | (g >> 5));
    out[1] = static_cast<uint8_t>((((g >> 2) & 7) << 5) | (b >> 3));
}

// Converts a 48 x 48 picture of 24 or 32 bits per pixel; false for any other size or
// depth. rotate turns the picture a quarter clockwise, as the two tall keypad keys need.
bool convert(const QXBitmapView& source, bool rotate, std::array<uint8_t, kBytes>& out);

// The displays mounted a quarter turn round: under keypad Enter and keypad Plus.
inline bool isRotated(int displayNumber) {
    return displayNumber == 3 || displayNumber == 14;
}

} // namespace QXDisplayImage
