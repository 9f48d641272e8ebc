#include "pluginhost/QXActionPluginInstance.h"

#include "model/QXLayersItem.h"
#include "pluginhost/QXPluginGuard.h"
#include "pluginhost/QXViewPluginInstance.h"

QXActionPluginInstance::QXActionPluginInstance(QXPluginRegistry& registry)
    : QXGUIPluginContextImpl(registry) {}

IQXViewPluginInstance* QXActionPluginInstance::GetViewInstance() {
    const auto* layer = dynamic_cast<const QXLayer*>(holder());
    const QXButton* button = layer && keyIndex() >= 0 ? layer->getButton(keyIndex()) : nullptr;
    if (!button)
        return nullptr;
    auto* view = dynamic_cast<QXViewPluginInstance*>(button->view.get());
    if (!view || view->pluginId() != pluginId())
        return nullptr;
    return view->pluginInstance();
}

void QXActionPluginInstance::keyEvent(int, int state) {
    IQXActionPluginInstance* instance = pluginInstance();
    if (!instance)
        return;
    if (state == 1) {
        if (m_pressed)
            return;
        m_pressed = true;
        guardedCall([&] { instance->KeyDown(); });
    } else if (m_pressed) {
        m_pressed = false;
        guardedCall([&] { instance->KeyUp(); });
    }
}

void QXActionPluginInstance::setHolder(const QXLayersItem* holder) {
    QXGUIPluginContextImpl::setHolder(holder);
    if (!holder)
        detach();
}

void QXActionPluginInstance::detach() {
    if (m_pressed) {
        m_pressed = false;
        if (IQXActionPluginInstance* instance = pluginInstance())
            guardedCall([&] { instance->KeyUp(); });
    }
    hidePropertyPage();
    releaseInstance();
}
