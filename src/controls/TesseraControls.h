#pragma once

// The public header of libTesseraControls.so, the one the program and the plug-ins
// include: CTesDialog (a dialog that keeps its controls placed as it is resized, holds an
// aspect ratio and shows a size grip) with its layout record TES_DLG_CONTROL, and
// CTesSliderCtrl (a horizontal slider with a drawing of its own).
//
// Everything here is a Qt widget and lives on the GUI thread only.

#include "controls/CTesDialog.h"
#include "controls/CTesSizeGrip.h"
#include "controls/CTesSliderCtrl.h"
