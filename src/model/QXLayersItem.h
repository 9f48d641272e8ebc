#pragma once

#include "model/QXButton.h"
#include "model/QXCondition.h"
#include "model/QXObject.h"

#include <array>
#include <functional>
#include <string>
#include <vector>

class QXLayer;
class QXLayersItem;

// An ordered list of items; a group's children, or the top of the tree.
using QXItemList = std::vector<QXPtr<QXLayersItem>>;

// Anything that answers, per key, with the button that decides it.
class QXAbstractLayer {
public:
    // The button of the key, or nullptr for key indexes of 113 and above (and, for a
    // stack of layers, when no layer assigns the key).
    virtual QXButton* getButton(size_t keyIndex) = 0;

protected:
    ~QXAbstractLayer() = default;
};

// The 113 buttons of one layer, in key-index order.
class QXSimpleLayer : public QXAbstractLayer {
public:
    static constexpr size_t kButtonCount = 113;

    QXButton* getButton(size_t keyIndex) override {
        return keyIndex < kButtonCount ? &m_buttons[keyIndex] : nullptr;
    }
    const QXButton* getButton(size_t keyIndex) const {
        return keyIndex < kButtonCount ? &m_buttons[keyIndex] : nullptr;
    }

protected:
    ~QXSimpleLayer() = default;
    std::array<QXButton, kButtonCount> m_buttons;
};

// Layers seen as one: for each key the first layer whose button is assigned wins.
class QXCompositeLayer : public QXAbstractLayer {
public:
    virtual ~QXCompositeLayer() = default;
    QXButton* getButton(size_t keyIndex) override;
    // The layer whose button wins the key, or nothing.
    QXPtr<QXLayer> winner(size_t keyIndex) const;

    std::vector<QXPtr<QXLayer>>& layers() { return m_layers; }
    const std::vector<QXPtr<QXLayer>>& layers() const { return m_layers; }

private:
    std::vector<QXPtr<QXLayer>> m_layers;
};

// What layers and groups have in common.
class QXLayersItem : public QXObject<QXLayersItem>,
                     public QXTypes<QXLayersItem>,
                     public QXPropertiesStore {
public:
    using Ptr = QXTypes<QXLayersItem>::Ptr;

    // Flag bits. Only kEnabled is stored (inverted, as "Disabled").
    static constexpr uint32_t kFixed = 0x01;        // "user_layers" and each language group
    static constexpr uint32_t kUserLayers = 0x04;   // the group "user_layers"
    static constexpr uint32_t kSystemLayers = 0x08; // the group "system_layers"
    static constexpr uint32_t kEnabled = 0x10;
    static constexpr uint32_t kSelected = 0x20;     // selected in the editor: active regardless
    static constexpr uint32_t kActive = 0x40;       // changed only by activate and deactivate

    // Lets go of the plug-in conditions it holds.
    ~QXLayersItem() override;

    // A group's items; a layer answers with a shared empty list.
    virtual QXItemList& children();
    // Reads the item from its node (named by the identifier).
    virtual void loadFrom(const QXPropertyNode& node) = 0;
    // Adds a child named by the identifier to parent and writes the item into it.
    virtual void saveTo(QXPropertyNode& parent) const = 0;
    // Sets the active bit; a layer that becomes active starts its buttons.
    virtual void activate();
    // Clears the active bit; a layer that stops being active stops its buttons.
    virtual void deactivate();
    virtual bool isGroup() const = 0;

    const std::u16string& identifier() const { return m_identifier; }
    const std::u16string& displayName() const { return m_displayName; }
    // The plug-in instances the item holds get a copy of the new name.
    void setDisplayName(std::u16string name);
    bool isEnabled() const { return hasFlag(kEnabled); }
    bool isActive() const { return hasFlag(kActive); }
    bool isSelected() const { return hasFlag(kSelected); }

    // Conditions added or removed through the list itself are not told of their holder
    // (plug-in conditions need to know it): use addCondition and removeCondition.
    QXConditionList& conditions() { return m_conditions; }
    const QXConditionList& conditions() const { return m_conditions; }
    void addCondition(QXPtr<QXCondition> condition);
    bool removeCondition(const QXPtr<QXCondition>& condition);

protected:
    explicit QXLayersItem(std::u16string identifier);
    // "DisplayName", "Disabled", "Conditions" and "Properties".
    void loadCommon(const QXPropertyNode& node);
    // The item's node under parent, with "Type" for a group and the common entries.
    QXPropertyNode::Ptr saveCommon(QXPropertyNode& parent) const;
    // Tells every plug-in instance the item stores that the item holds it (again).
    virtual void holdInstances();

private:
    std::u16string m_displayName;
    std::u16string m_identifier;
    QXConditionList m_conditions;
};

class QXLayer : public QXLayersItem, public QXSimpleLayer, public QXTypes<QXLayer> {
public:
    using Ptr = QXTypes<QXLayer>::Ptr;

    explicit QXLayer(std::u16string identifier) : QXLayersItem(std::move(identifier)) {}
    // Lets go of the plug-in views and actions of its buttons.
    ~QXLayer() override;

    void loadFrom(const QXPropertyNode& node) override;
    void saveTo(QXPropertyNode& parent) const override;
    void activate() override;
    void deactivate() override;
    bool isGroup() const override { return false; }

    using QXSimpleLayer::getButton;

    // Tells every view and then every action of the layer that it is now in use (start)
    // or no longer (stop), key by key.
    void startButtons();
    void stopButtons();

    // Reads the "Buttons" entry of a layer node. Entries are found by key name; stored
    // in key order, each is found in one step.
    void readButtons(const QXPropertyNode& buttons);
    // Adds "Buttons" with every assigned button, in key order, when there is one.
    void writeButtons(QXPropertyNode& layerNode) const;

    // Editing. Each changes one button; the caller tells the rest of the program.
    // The picture replaces a view; none gives a new black picture. It is marked changed.
    void setPicture(size_t keyIndex, QXPtr<QXImage> picture);
    // An action code replaces an action.
    void setActionCode(size_t keyIndex, int code);
    // Stops the button's instances and empties it.
    void clearButton(size_t keyIndex);
    // A view replaces the picture; the old view is stopped, the new one started when
    // the layer is active. None removes the view.
    void setView(size_t keyIndex, QXKeyViewInstance::Ptr view);
    // An action resets the action code and the scan code; the old action is stopped,
    // the new one started when the layer is active. None removes the action.
    void setAction(size_t keyIndex, QXKeyActionInstance::Ptr action);

    // Marks every picture of the layer changed, so the next save writes them all.
    void markAllChanged();

protected:
    void holdInstances() override;
};

class QXLayersGroup : public QXLayersItem {
public:
    explicit QXLayersGroup(std::u16string identifier) : QXLayersItem(std::move(identifier)) {}

    QXItemList& children() override { return m_items; }
    const QXItemList& children() const { return m_items; }
    void loadFrom(const QXPropertyNode& node) override;
    void saveTo(QXPropertyNode& parent) const override;
    bool isGroup() const override { return true; }

private:
    QXItemList m_items; // display order
};

// ---- item lists ----------------------------------------------------------------------

// The first item with exactly this identifier, in this list only.
QXLayersItem::Ptr findItem(const QXItemList& list, std::u16string_view identifier);
// An item with the same identifier is replaced in place; otherwise the item is appended.
void addItem(QXItemList& list, QXLayersItem::Ptr item);
// Removes any item with the same identifier, then appends (used while reading).
void addLoadedItem(QXItemList& list, QXLayersItem::Ptr item);
// The same for every item of an "ItemOrder" node, in order, in linear time.
void addLoadedItems(QXItemList& list, const QXPropertyNode& order);
// Without a reference: removes any item with the same identifier and inserts at the
// front. With one: inserts right after it, or at the end when it is not in the list.
void insertItem(QXItemList& list, QXLayersItem::Ptr item, const QXLayersItem::Ptr& after = {});
// Removes the item (found by identity); false when it is not in the list.
bool removeItem(QXItemList& list, const QXLayersItem::Ptr& item);
// The layers of the tree, depth first in list order, for which the predicate holds. A
// group contributes its layers; an empty group contributes nothing.
std::vector<QXLayer::Ptr> flatten(const QXItemList& list,
                                  const std::function<bool(const QXLayersItem&)>& predicate);

// ---- making items --------------------------------------------------------------------

// A group when the node's "Type" is "Group", else a layer; read from the node.
QXLayersItem::Ptr createItem(const QXPropertyNode& node);
// A new layer ("New layer") or group ("New group") with a new GUID as identifier,
// inserted into the list after the reference item (at the front without one).
QXLayer::Ptr createLayer(QXItemList& list, const QXLayersItem::Ptr& after = {});
QXPtr<QXLayersGroup> createGroup(QXItemList& list, const QXLayersItem::Ptr& after = {});

// Marks every picture in the item's layers changed.
void markAllChanged(QXLayersItem& item);
