#pragma once

#include "ArtProducts.h"

// The picture of the whole keyboard that a layer's key pictures are painted into when the
// user edits them as one picture: 1312 by 376 pixels, 24 bits, a key cap for each of the
// keys with its 48 by 48 display square painted black. Named "KEYBOARD_TEMPLATE", the name
// the model library looks it up by.
std::vector<ArtPicture> drawKeyboardTemplate();
