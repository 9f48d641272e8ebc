#include "pluginhost/QXPluginHostFactory.h"

namespace {

template <class Host, class Factory>
QXPtr<Host> makeNew(QXPluginRegistry& registry, const QXPluginEntry::Ptr& plugin,
                    std::u16string_view subPluginId, int keyIndex, Factory factory) {
    if (!plugin || !plugin->ensureLoaded() || !factory(*plugin))
        return {};
    auto host = makeQX<Host>(registry);
    host->setIds(plugin->id(), std::u16string(subPluginId));
    host->setKeyIndex(keyIndex);
    host->setPluginEntry(plugin);
    return host;
}

} // namespace

QXPluginHostFactory::QXPluginHostFactory(QXPluginRegistry& registry) : m_registry(registry) {}

QXKeyViewInstance::Ptr QXPluginHostFactory::createView(const QXPropertyNode& stored) {
    auto view = makeQX<QXViewPluginInstance>(m_registry);
    view->loadFrom(stored);
    return view;
}

QXKeyActionInstance::Ptr QXPluginHostFactory::createAction(const QXPropertyNode& stored) {
    auto action = makeQX<QXActionPluginInstance>(m_registry);
    action->loadFrom(stored);
    return action;
}

QXPtr<QXCondition> QXPluginHostFactory::createPluginCondition(const QXPropertyNode& stored) {
    auto condition = makeQX<QXConditionPluginInstance>(m_registry);
    condition->loadFrom(stored);
    return condition;
}

QXPtr<QXViewPluginInstance> QXPluginHostFactory::newView(const QXPluginEntry::Ptr& plugin,
                                                         std::u16string_view subPluginId,
                                                         int keyIndex) {
    return makeNew<QXViewPluginInstance>(m_registry, plugin, subPluginId, keyIndex,
                                         [](const QXPluginEntry& e) { return e.createView(); });
}

QXPtr<QXActionPluginInstance> QXPluginHostFactory::newAction(const QXPluginEntry::Ptr& plugin,
                                                             std::u16string_view subPluginId,
                                                             int keyIndex) {
    return makeNew<QXActionPluginInstance>(m_registry, plugin, subPluginId, keyIndex,
                                           [](const QXPluginEntry& e) { return e.createAction(); });
}

QXPtr<QXConditionPluginInstance>
QXPluginHostFactory::newCondition(const QXPluginEntry::Ptr& plugin,
                                  std::u16string_view subPluginId) {
    return makeNew<QXConditionPluginInstance>(
        m_registry, plugin, subPluginId, -1,
        [](const QXPluginEntry& e) { return e.createCondition(); });
}
