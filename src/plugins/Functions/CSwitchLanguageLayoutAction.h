#pragma once

#include "QXX11Input.h"
#include "kit/CQXPluginInstance.h"

// "switchlayout.action": a press switches to the next keyboard layout (XKB group), from the
// last back to the first. No page, no properties. GUI thread.
class CSwitchLanguageLayoutAction : public CQXPluginInstance<IQXActionPluginInstance> {
public:
    explicit CSwitchLanguageLayoutAction(IQXActionPluginContext* context)
        : CQXPluginInstance(context) {}

    void KeyDown() override { QXX11Input::switchToNextGroup(); }
    void KeyUp() override {}
};
