#pragma once

#include "model/QXLayersItem.h"

// The whole own assignment of one key in one layer (picture, view, action, codes,
// keystroke and properties), lifted out of a layer and put back into one, so the
// keyboard view can move, exchange and copy keys between and within layers.
struct QXKeyAssignment {
    QXPtr<QXImage> image;
    QXKeyViewInstance::Ptr view;
    QXKeyActionInstance::Ptr action;
    int scanCode = 0;
    int actionCode = 0;
    std::u16string keystroke;
    QXPropertyNode::Ptr properties;

    // Takes the key's assignment out of the layer, which is left without one. The
    // instances are stopped and no longer held by the layer.
    static QXKeyAssignment take(QXLayer& layer, size_t keyIndex);
    // An independent copy of the key's assignment: its own picture pixels and new
    // plug-in instances made from the stored form of the originals.
    static QXKeyAssignment copy(const QXButton& button);
    // Replaces whatever the key had in the layer; instances start when the layer is
    // active, a picture is marked changed so the next save writes it.
    void putInto(QXLayer& layer, size_t keyIndex) const;
};
