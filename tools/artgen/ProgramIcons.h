#pragma once

#include "ArtProducts.h"

#include <QColor>
#include <array>

// The program's icon, "qxcfg": a key cap carrying four small coloured displays, at 256
// pixels ("qxcfg") and drawn anew for 128, 64, 48, 32 and 16 ("qxcfg-48" ...) so that the
// small ones stay crisp; the desktop's icon theme takes them all. The tray icons show the same mark at 22 pixels and, for screens with
// twice the density, 44 ("tray-connected", "tray-connected@2x"); while no keyboard is
// connected the displays are grey and dark ("tray-disconnected" ...).
std::vector<ArtPicture> drawProgramIcons();

// The colours of the mark's four displays: top left, top right, bottom left, bottom right.
extern const std::array<QColor, 4> kMarkColors;
