#pragma once

#include "pluginhost/QXPluginContextImpl.h"
#include "pluginhost/QXPluginRegistry.h"

// A plug-in action on a key, as the layer model holds it and as the plug-in's context.
// GUI thread, apart from the context operations of the base.
class QXActionPluginInstance final : public QXGUIPluginContextImpl<IQXActionPluginContext> {
public:
    explicit QXActionPluginInstance(QXPluginRegistry& registry = QXPluginRegistry::instance());

    // The view on the same key of the same layer, when the same plug-in made it.
    IQXViewPluginInstance* GetViewInstance() override;

    void start() override { attach(); }
    void stop() override { detach(); }
    // State 1 is a press: KeyDown unless the key is down already. Anything else is a
    // release: KeyUp when the key is down. The key index is the instance's own.
    void keyEvent(int keyIndex, int state) override;
    bool isPressed() const override { return m_pressed; }
    // Losing its holder ends the plug-in instance.
    void setHolder(const QXLayersItem* holder) override;

    // Lets a held key go (KeyUp), hides the page and releases the plug-in instance.
    void detach();

private:
    bool m_pressed = false;
};
