#pragma once

#include "pluginhost/QXPluginContextImpl.h"
#include "pluginhost/QXPluginRegistry.h"

#include <atomic>

// A layer condition supplied by a plug-in (type "plugin"), as the layer model holds it
// and as the plug-in's context. The plug-in instance is made at the first evaluation
// and reports the state with SetActive, from any thread; a change makes the program
// evaluate its layers again (message 2046). GUI thread otherwise.
class QXConditionPluginInstance final : public QXGUIPluginContextImpl<IQXConditionPluginContext> {
public:
    explicit QXConditionPluginInstance(QXPluginRegistry& registry = QXPluginRegistry::instance());

    // Only 1 is active. A change sends 2046, except while the factory that makes the
    // instance runs (the first evaluation takes the state then). Any thread.
    void SetActive(int32_t state) override;

    // Makes the plug-in instance if needed; the last reported state.
    bool evaluate() override;
    void loadFrom(const QXPropertyNode& node) override { QXKeyPluginInstance::loadFrom(node); }
    void saveTo(QXPropertyNode& conditions) const override;
    void prepare() override { attachCondition(); }
    void release() override { detach(); }
    // Losing its holder ends the plug-in instance.
    void setHolder(const QXLayersItem* holder) override;

    // The plug-in's page; the instance is made first when there is none yet.
    QXWindowHandle showPropertyPage(QXWindowHandle parent);
    // Hides the page and releases the plug-in instance.
    void detach();

    bool isActive() const { return m_active; }

private:
    void attachCondition();

    std::atomic<bool> m_creating{false};
    std::atomic<bool> m_active{false};
};
