#include "model/QXLayerTree.h"

#include "platform/QXText.h"
#include "store/QXProfile.h"

namespace {

QXLayersItem::Ptr findDeep(const QXItemList& list, std::u16string_view identifier) {
    for (const QXLayersItem::Ptr& item : list) {
        if (item->identifier() == identifier)
            return item;
        if (QXLayersItem::Ptr found = findDeep(item->children(), identifier))
            return found;
    }
    return {};
}

// The fixed group of this identifier, created and appended when missing.
QXLayersItem::Ptr ensureGroup(QXItemList& list, const std::u16string& identifier,
                              const std::u16string& displayName) {
    QXLayersItem::Ptr group = findItem(list, identifier);
    if (group && group->isGroup())
        return group;
    group = makeQX<QXLayersGroup>(identifier);
    group->setDisplayName(displayName);
    addItem(list, group);
    return group;
}

// A button set shipped in the program folder, appended to the group when missing.
void ensureSeeded(QXProfile& profile, QXLayersItem& group, const std::u16string& identifier) {
    if (findItem(group.children(), identifier))
        return;
    QXPropertyNode node(identifier);
    if (!profile.readItemFolder(profile.folders().program / toPath(identifier), node))
        return;
    QXLayersItem::Ptr item = createItem(node);
    markAllChanged(*item);
    addItem(group.children(), item);
}

} // namespace

void QXLayerTree::loadFrom(const QXPropertyNode& layers) {
    m_items.clear();
    if (QXPropertyNode::Ptr order = layers.findChild(u"ItemOrder"))
        addLoadedItems(m_items, *order);
}

void QXLayerTree::saveTo(QXPropertyNode& root) const {
    QXPropertyNode::Ptr layers = root.addChild(u"Layers");
    layers->addChild(u"DisplayName", u"root");
    layers->addChild(u"Type", u"Group");
    if (m_items.empty())
        return;
    QXPropertyNode::Ptr order = layers->addChild(u"ItemOrder");
    for (const QXLayersItem::Ptr& item : m_items)
        item->saveTo(*order);
}

void QXLayerTree::ensureFixedItems(QXProfile& profile) {
    QXLayersItem::Ptr user = ensureGroup(m_items, u"user_layers", u"Layers");
    user->setFlag(QXLayersItem::kFixed | QXLayersItem::kUserLayers);
    ensureSeeded(profile, *user, u"default_buttons");
    bool hasSysCondition = false;
    for (const QXPtr<QXCondition>& condition : user->conditions())
        hasSysCondition = hasSysCondition || (condition && condition->type() == u"sys_condition");
    if (!hasSysCondition)
        user->addCondition(makeQX<QXSysCondition>());

    QXLayersItem::Ptr system = ensureGroup(m_items, u"system_layers", u"Background");
    system->setFlag(QXLayersItem::kSystemLayers);
    ensureSeeded(profile, *system, u"control_buttons");
}

QXLayersItem::Ptr QXLayerTree::find(std::u16string_view identifier) const {
    return findDeep(m_items, identifier);
}
