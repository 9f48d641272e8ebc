#pragma once

#include "kit/CQXPluginInstance.h"

// Each press makes the top-level window under the pointer half transparent, or opaque again
// when it already is. Windows of this program are left alone.
class CXRayWindowAction : public CQXPluginInstance<IQXActionPluginInstance> {
public:
    using CQXPluginInstance::CQXPluginInstance;

    void KeyDown() override;
    void KeyUp() override {}
};

// A press hands the top-level window under the pointer to the window manager's interactive
// move: the window follows the pointer until a click (or Escape) puts it down.
class CWindowMoverAction : public CQXPluginInstance<IQXActionPluginInstance> {
public:
    using CQXPluginInstance::CQXPluginInstance;

    void KeyDown() override;
    void KeyUp() override {}
};
