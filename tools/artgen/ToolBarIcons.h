#pragma once

#include "ArtProducts.h"

// The main window's tool-bar pictures: flat glyphs on a transparent 56 x 32 picture
// ("toolbar-<name>") and the same drawing at twice the size for screens of twice the
// density ("toolbar-<name>@2x"). Names: new-layer, new-group, delete, paint, export,
// import, updates, properties.
std::vector<ArtPicture> drawToolBarIcons();
