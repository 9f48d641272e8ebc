#include "model/QXKeyPluginInstance.h"

#include "model/QXCondition.h"

namespace {

QXPluginInstanceFactory g_defaultFactory;
QXPluginInstanceFactory* g_factory = &g_defaultFactory;

} // namespace

void QXKeyPluginInstance::setIds(std::u16string pluginId, std::u16string subPluginId) {
    m_pluginId = std::move(pluginId);
    m_subPluginId = std::move(subPluginId);
}

void QXKeyPluginInstance::loadFrom(const QXPropertyNode& node) {
    m_pluginId = node.childValue(u"PluginID");
    m_subPluginId = node.childValue(u"SubPluginID");
    m_properties = node.findChild(u"PluginProperties");
}

void QXKeyPluginInstance::saveTo(QXPropertyNode& node) const {
    node.addChild(u"PluginID", m_pluginId);
    node.addChild(u"SubPluginID", m_subPluginId);
    if (m_properties) {
        // The same node, renamed if needed: edits made through it stay shared.
        m_properties->setName(u"PluginProperties");
        node.addChild(m_properties);
    }
}

QXKeyViewInstance::Ptr QXPluginInstanceFactory::createView(const QXPropertyNode& stored) {
    auto view = makeQX<QXKeyViewInstance>();
    view->loadFrom(stored);
    return view;
}

QXKeyActionInstance::Ptr QXPluginInstanceFactory::createAction(const QXPropertyNode& stored) {
    auto action = makeQX<QXKeyActionInstance>();
    action->loadFrom(stored);
    return action;
}

QXPtr<QXCondition> QXPluginInstanceFactory::createPluginCondition(const QXPropertyNode& stored) {
    auto condition = makeQX<QXStoredPluginCondition>();
    condition->loadFrom(stored);
    return condition;
}

QXPluginInstanceFactory& QXPluginInstanceFactory::current() {
    return *g_factory;
}

void QXPluginInstanceFactory::setCurrent(QXPluginInstanceFactory* factory) {
    g_factory = factory ? factory : &g_defaultFactory;
}
