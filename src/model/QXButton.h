#pragma once

#include "model/QXKeyPluginInstance.h"
#include "model/QXObject.h"
#include "store/QXImage.h"

#include <cstdint>
#include <string>

// What one key shows and does in one layer.
struct QXButton : QXPropertiesStore {
    int scanCode = 0;          // the key's scan code in this layer, low 8 bits; 0 = none
    std::u16string keystroke;  // text the key types in this layer; empty = none
    int actionCode = 0;        // code sent while this layer wins the key; 0 = the key's default
    QXPtr<QXImage> image;      // a fixed picture for the key's display
    QXKeyViewInstance::Ptr view;     // a plug-in view that draws the display
    QXKeyActionInstance::Ptr action; // a plug-in action that handles presses
    bool showing = false;      // the button is the winner of its key and its picture is shown

    // A button takes part in what keys show and do only when it assigns something: a
    // picture, a scan code, a keystroke, a view or an action. An action code or
    // properties alone do not count.
    bool isAssigned() const {
        return image || scanCode != 0 || !keystroke.empty() || view || action;
    }

    // The button won its key: its picture is decoded (and brought to 48 x 48) if it was
    // not yet, and its view is shown.
    void show();
    // The button lost its key or its layer went: its view is hidden, and its picture is
    // released unless it holds changes that still have to be saved.
    void hide();
};

// Reads a number stored as decimal text ("059", "44"); text that is not a number reads
// as 0, and only the low 8 bits are kept.
int readByteValue(std::u16string_view text);
