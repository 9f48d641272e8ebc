#pragma once

#include <FreeImagePlus.h>

// How any picture FreeImage reads becomes the colours a key shows. A key's background is
// black, so wherever a picture becomes 24 bits its transparent pixels are laid over
// black, weighted by their alpha; the colours stored under full transparency never show.
namespace QXPictureColours {

// Turns every image type FreeImage loads (1 to 32 bits with or without palette and
// transparency table, 16-bit grey and colour, float) into standard 8-bit colour: 32 bits
// (B, G, R, A) when the picture has an alpha channel or a transparent colour, else 24
// bits. False when the picture cannot be converted.
bool toStandard(fipImage& picture);

// For 32-bit Windows bitmaps, which often leave the fourth byte unused: alpha that is
// zero everywhere is taken as opaque.
void treatUnusedAlphaAsOpaque(fipImage& picture);

// toStandard, then every pixel laid over black: 24 bits per pixel.
bool to24Bits(fipImage& picture);

} // namespace QXPictureColours
