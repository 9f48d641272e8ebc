#pragma once

#include <QIcon>

// A tool-bar picture of the main window by name ("new-layer", "new-group", "delete",
// "paint", "export", "import", "updates", "properties"): 56 x 32 pixels, with the drawing
// at twice the size for screens of twice the density. A null icon for an unknown name.
QIcon toolBarIcon(const char* name);
