#include "model/QXKeyPluginInstance.h"

#include "model/QXCondition.h"
#include "model/QXLayersItem.h"

namespace {

QXPluginInstanceFactory g_defaultFactory;
QXPluginInstanceFactory* g_factory = &g_defaultFactory;

QXPropertyNode::Ptr deepCopy(const QXPropertyNode& node) {
    auto copy = makeQX<QXPropertyNode>(node.name(), node.value(), node.image());
    for (const QXPropertyNode::Ptr& child : node.children())
        if (child)
            copy->addChild(deepCopy(*child));
    return copy;
}

} // namespace

void QXKeyPluginInstance::setIds(std::u16string pluginId, std::u16string subPluginId) {
    m_pluginId = std::move(pluginId);
    m_subPluginId = std::move(subPluginId);
}

QXPropertyNode::Ptr QXKeyPluginInstance::pluginProperties() const {
    std::lock_guard lock(m_mutex);
    return m_properties;
}

void QXKeyPluginInstance::setPluginProperties(QXPropertyNode::Ptr properties) {
    std::lock_guard lock(m_mutex);
    m_properties = std::move(properties);
}

std::optional<std::u16string> QXKeyPluginInstance::property(std::u16string_view name) const {
    std::lock_guard lock(m_mutex);
    if (!m_properties)
        return std::nullopt;
    QXPropertyNode::Ptr entry = m_properties->findChild(name);
    if (!entry)
        return std::nullopt;
    return entry->value();
}

void QXKeyPluginInstance::setProperty(std::u16string_view name, std::u16string_view value) {
    std::lock_guard lock(m_mutex);
    if (!m_properties)
        m_properties = makeQX<QXPropertyNode>(u"PluginProperties");
    m_properties->addChild(std::u16string(name), std::u16string(value));
}

void QXKeyPluginInstance::setHolder(const QXLayersItem* holder) {
    m_holder = holder;
    std::lock_guard lock(m_mutex);
    m_holderId = holder ? holder->identifier() : std::u16string();
    m_holderName = holder ? holder->displayName() : std::u16string();
}

std::u16string QXKeyPluginInstance::holderId() const {
    std::lock_guard lock(m_mutex);
    return m_holderId;
}

std::u16string QXKeyPluginInstance::holderName() const {
    std::lock_guard lock(m_mutex);
    return m_holderName;
}

void QXKeyPluginInstance::loadFrom(const QXPropertyNode& node) {
    m_pluginId = node.childValue(u"PluginID");
    m_subPluginId = node.childValue(u"SubPluginID");
    setPluginProperties(node.findChild(u"PluginProperties"));
}

void QXKeyPluginInstance::saveTo(QXPropertyNode& node) const {
    node.addChild(u"PluginID", m_pluginId);
    node.addChild(u"SubPluginID", m_subPluginId);
    std::lock_guard lock(m_mutex);
    if (m_properties) {
        QXPropertyNode::Ptr copy = deepCopy(*m_properties);
        copy->setName(u"PluginProperties");
        node.addChild(copy);
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
