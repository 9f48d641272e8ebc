#pragma once

#include "model/QXLayersItem.h"

#include <QImage>
#include <vector>

class CQXLayersView;
class QXDispatch;
class QXLayersController;
class QXPluginRegistry;
class fipImage;

// What every key property panel works on: the keys selected in the keyboard view, in the
// view's current layer, and the way an edit is announced. The panels keep no model data
// of their own; they read this again on every reload. GUI thread only.
struct QXKeyPropsContext {
    static constexpr size_t kNoKey = 113;

    QXLayersController& controller;
    CQXLayersView& keyboard;
    QXPluginRegistry& registry;
    QXDispatch& dispatch;

    // The selected keys in key order.
    std::vector<size_t> keys() const;
    // The current layer when it may be edited and some key is selected; else none.
    QXLayer::Ptr editableLayer() const;
    // The key the panels show: the anchor key when it is selected, else the first
    // selected key; kNoKey when nothing is selected.
    size_t shownKey() const;
    // That key's button in the current layer, or null.
    QXButton* shownButton() const;
    // After the panels changed buttons: the stacks are worked out again (a key that got
    // its first assignment may win now) and 2039 goes out.
    void edited() const;
};

// A FreeImage picture as a Qt image (any bit depth; rows turned top-down); null when
// the picture is empty or cannot be made 24 bits.
QImage qxToQImage(fipImage picture);
