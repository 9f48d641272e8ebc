#include "pluginhost/QXConditionPluginInstance.h"

#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"

QXConditionPluginInstance::QXConditionPluginInstance(QXPluginRegistry& registry)
    : QXGUIPluginContextImpl(registry) {}

void QXConditionPluginInstance::SetActive(int32_t state) {
    const bool active = state == 1;
    if (m_active.exchange(active) == active)
        return;
    if (!m_creating)
        QXDispatch::current().Send(QXM_CONDITIONS_CHANGED, 0, 0);
}

bool QXConditionPluginInstance::evaluate() {
    attachCondition();
    return m_active;
}

void QXConditionPluginInstance::saveTo(QXPropertyNode& conditions) const {
    QXKeyPluginInstance::saveTo(*addEntry(conditions));
}

void QXConditionPluginInstance::setHolder(const QXLayersItem* holder) {
    QXKeyPluginInstance::setHolder(holder);
    if (!holder)
        detach();
}

QXWindowHandle QXConditionPluginInstance::showPropertyPage(QXWindowHandle parent) {
    attachCondition();
    return QXGUIPluginContextImpl::showPropertyPage(parent);
}

void QXConditionPluginInstance::detach() {
    hidePropertyPage();
    releaseInstance();
}

void QXConditionPluginInstance::attachCondition() {
    if (pluginInstance())
        return;
    // A state reported from inside the factory is the first evaluation's answer, not a
    // change the layers must hear about.
    m_creating = true;
    attach();
    m_creating = false;
}
