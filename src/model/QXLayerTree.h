#pragma once

#include "model/QXLayersItem.h"

class QXProfile;

// The whole tree of layers and groups: the top-level list, stored as the invisible root
// group of the profile's "Layers" folder.
class QXLayerTree {
public:
    QXItemList& topLevel() { return m_items; }
    const QXItemList& topLevel() const { return m_items; }

    // Replaces the tree with the items of a "Layers" node.
    void loadFrom(const QXPropertyNode& layers);
    // Adds "Layers" to the root node: "DisplayName" "root", "Type" "Group" and the items.
    void saveTo(QXPropertyNode& root) const;

    // Makes sure the fixed items exist: the group "user_layers" ("Layers") holding
    // "default_buttons", and the group "system_layers" ("Background") holding
    // "control_buttons". Missing button sets are read from the program folder, their
    // pictures marked changed so the next save copies them into the profile. The fixed
    // flags, which are not stored, are set again, and "user_layers" gets its condition
    // that holds only while the keyboard is connected.
    void ensureFixedItems(QXProfile& profile);

    // The item with this identifier anywhere in the tree, depth first.
    QXLayersItem::Ptr find(std::u16string_view identifier) const;
    QXLayersItem::Ptr userLayers() const { return findItem(m_items, u"user_layers"); }
    QXLayersItem::Ptr systemLayers() const { return findItem(m_items, u"system_layers"); }

private:
    QXItemList m_items;
};
