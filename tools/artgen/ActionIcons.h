#pragma once

#include "ArtProducts.h"

// The icons of the multimedia verbs, named "ACTION_" + the verb's name in capitals with
// underscores for blanks, the names the model library looks them up by.
std::vector<ArtPicture> drawActionIcons();
