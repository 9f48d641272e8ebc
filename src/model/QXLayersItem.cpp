#include "model/QXLayersItem.h"

#include "model/QXKeyTable.h"
#include "platform/QXGuid.h"

#include <algorithm>
#include <unordered_map>

namespace {

QXItemList& sharedEmptyList() {
    // Layers have no children; callers must not add to this list.
    static QXItemList empty;
    empty.clear();
    return empty;
}

std::u16string decimal(int value) {
    std::string s = std::to_string(value);
    return std::u16string(s.begin(), s.end());
}

// The plug-in side of a condition, when it is a plug-in condition.
QXKeyPluginInstance* pluginInstance(const QXPtr<QXCondition>& condition) {
    return dynamic_cast<QXKeyPluginInstance*>(condition.get());
}

void forget(QXKeyPluginInstance* instance, const QXLayersItem* holder) {
    if (instance)
        instance->forgetHolder(holder);
}

std::u16string threeDigits(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%03d", value);
    return std::u16string(text, text + std::char_traits<char>::length(text));
}

} // namespace

// ---- stacks --------------------------------------------------------------------------

QXButton* QXCompositeLayer::getButton(size_t keyIndex) {
    for (const QXPtr<QXLayer>& layer : m_layers)
        if (QXButton* button = layer->getButton(keyIndex); button && button->isAssigned())
            return button;
    return nullptr;
}

QXPtr<QXLayer> QXCompositeLayer::winner(size_t keyIndex) const {
    for (const QXPtr<QXLayer>& layer : m_layers)
        if (const QXButton* button = std::as_const(*layer).getButton(keyIndex);
            button && button->isAssigned())
            return layer;
    return {};
}

// ---- common item ---------------------------------------------------------------------

QXLayersItem::QXLayersItem(std::u16string identifier)
    : QXObject<QXLayersItem>(kEnabled), m_identifier(std::move(identifier)) {}

QXLayersItem::~QXLayersItem() {
    for (const QXPtr<QXCondition>& condition : m_conditions)
        forget(pluginInstance(condition), this);
}

void QXLayersItem::setDisplayName(std::u16string name) {
    m_displayName = std::move(name);
    holdInstances();
}

void QXLayersItem::holdInstances() {
    for (const QXPtr<QXCondition>& condition : m_conditions)
        if (QXKeyPluginInstance* instance = pluginInstance(condition))
            instance->setHolder(this);
}

QXItemList& QXLayersItem::children() {
    return sharedEmptyList();
}

void QXLayersItem::activate() {
    setFlag(kActive);
}

void QXLayersItem::deactivate() {
    clearFlag(kActive);
}

void QXLayersItem::addCondition(QXPtr<QXCondition> condition) {
    if (QXKeyPluginInstance* instance = pluginInstance(condition))
        instance->setHolder(this);
    m_conditions.push_back(std::move(condition));
}

bool QXLayersItem::removeCondition(const QXPtr<QXCondition>& condition) {
    auto it = std::find(m_conditions.begin(), m_conditions.end(), condition);
    if (it == m_conditions.end())
        return false;
    forget(pluginInstance(condition), this);
    m_conditions.erase(it);
    return true;
}

void QXLayersItem::loadCommon(const QXPropertyNode& node) {
    m_displayName = node.childValue(u"DisplayName");
    setFlag(kEnabled, node.childValue(u"Disabled") != u"true");
    for (const QXPtr<QXCondition>& condition : m_conditions)
        forget(pluginInstance(condition), this);
    m_conditions = readConditions(node);
    holdInstances();
    setProperties(node.findChild(u"Properties"));
}

QXPropertyNode::Ptr QXLayersItem::saveCommon(QXPropertyNode& parent) const {
    QXPropertyNode::Ptr node = parent.addChild(m_identifier);
    if (isGroup())
        node->addChild(u"Type", u"Group");
    node->addChild(u"DisplayName", m_displayName);
    node->addChild(u"Disabled", isEnabled() ? u"false" : u"true");
    writeConditions(m_conditions, *node);
    if (hasProperties()) {
        properties()->setName(u"Properties");
        node->addChild(properties());
    }
    return node;
}

// ---- layer ---------------------------------------------------------------------------

QXLayer::~QXLayer() {
    for (QXButton& button : m_buttons) {
        forget(button.view.get(), this);
        forget(button.action.get(), this);
    }
}

void QXLayer::holdInstances() {
    QXLayersItem::holdInstances();
    for (QXButton& button : m_buttons) {
        if (button.view)
            button.view->setHolder(this);
        if (button.action)
            button.action->setHolder(this);
    }
}

void QXLayer::loadFrom(const QXPropertyNode& node) {
    loadCommon(node);
    if (QXPropertyNode::Ptr buttons = node.findChild(u"Buttons"))
        readButtons(*buttons);
}

void QXLayer::saveTo(QXPropertyNode& parent) const {
    QXPropertyNode::Ptr node = saveCommon(parent);
    writeButtons(*node);
}

void QXLayer::activate() {
    const bool wasActive = isActive();
    QXLayersItem::activate();
    if (!wasActive)
        startButtons();
}

void QXLayer::deactivate() {
    const bool wasActive = isActive();
    QXLayersItem::deactivate();
    if (wasActive)
        stopButtons();
}

void QXLayer::startButtons() {
    for (QXButton& button : m_buttons) {
        if (button.view)
            button.view->start();
        if (button.action)
            button.action->start();
    }
}

void QXLayer::stopButtons() {
    for (QXButton& button : m_buttons) {
        if (button.view)
            button.view->stop();
        if (button.action)
            button.action->stop();
    }
}

void QXLayer::readButtons(const QXPropertyNode& buttons) {
    const size_t count = QXKeyTable::keyCount();
    size_t next = 0;
    for (const QXPropertyNode::Ptr& entry : buttons.children()) {
        // The search starts after the previous match and wraps around once, so entries
        // stored in key order are found in one step each.
        size_t found = count;
        for (size_t step = 0; step < count; ++step) {
            size_t index = (next + step) % count;
            if (QXKeyTable::key(index).name == entry->name()) {
                found = index;
                break;
            }
        }
        if (found == count)
            continue; // not a key name: skipped
        next = found + 1;

        QXButton& button = m_buttons[found];
        if (QXPropertyNode::Ptr view = entry->findChild(u"ViewPlugin")) {
            button.view = QXPluginInstanceFactory::current().createView(*view);
            if (button.view) {
                button.view->setKeyIndex(static_cast<int>(found));
                button.view->setHolder(this);
            }
        } else if (QXPropertyNode::Ptr image = entry->findChild(u"Image")) {
            button.image = image->image();
        }
        if (QXPropertyNode::Ptr action = entry->findChild(u"ActionPlugin")) {
            button.action = QXPluginInstanceFactory::current().createAction(*action);
            if (button.action) {
                button.action->setKeyIndex(static_cast<int>(found));
                button.action->setHolder(this);
            }
        }
        button.scanCode = readByteValue(entry->childValue(u"ScanCode"));
        button.keystroke = entry->childValue(u"Keystroke");
        button.actionCode = readByteValue(entry->childValue(u"ActionCode", u"0"));
        button.setProperties(entry->findChild(u"Properties"));
    }
}

void QXLayer::writeButtons(QXPropertyNode& layerNode) const {
    QXPropertyNode::Ptr buttons;
    for (size_t i = 0; i < kButtonCount; ++i) {
        const QXButton& button = m_buttons[i];
        if (!button.isAssigned())
            continue;
        if (!buttons)
            buttons = layerNode.addChild(u"Buttons");
        const std::u16string name(QXKeyTable::key(i).name);
        QXPropertyNode::Ptr entry = buttons->addChild(name);
        if (button.view)
            button.view->saveTo(*entry->addChild(u"ViewPlugin"));
        else if (button.image)
            entry->addChild(u"Image", name, button.image);
        if (button.action)
            button.action->saveTo(*entry->addChild(u"ActionPlugin"));
        if (!button.keystroke.empty())
            entry->addChild(u"Keystroke", button.keystroke);
        if ((button.scanCode & 0xFF) != 0)
            entry->addChild(u"ScanCode", threeDigits(button.scanCode & 0xFF));
        if ((button.actionCode & 0xFF) != 0)
            entry->addChild(u"ActionCode", decimal(button.actionCode & 0xFF));
        if (button.hasProperties()) {
            button.properties()->setName(u"Properties");
            entry->addChild(button.properties());
        }
    }
}

void QXLayer::setPicture(size_t keyIndex, QXPtr<QXImage> picture) {
    QXButton* button = getButton(keyIndex);
    if (!button)
        return;
    if (button->view) {
        button->view->stop();
        button->view->forgetHolder(this);
        button->view.reset();
    }
    if (!picture) {
        picture = makeQX<QXImage>(fipImage(FIT_BITMAP, QXImage::kKeySize, QXImage::kKeySize, 24));
    } else if (!picture->isLoaded()) {
        picture->loadSource();
    }
    picture->setChanged(true);
    button->image = picture;
}

void QXLayer::setActionCode(size_t keyIndex, int code) {
    QXButton* button = getButton(keyIndex);
    if (!button)
        return;
    if (button->action) {
        button->action->stop();
        button->action->forgetHolder(this);
        button->action.reset();
    }
    button->actionCode = code & 0xFF;
}

void QXLayer::clearButton(size_t keyIndex) {
    QXButton* button = getButton(keyIndex);
    if (!button)
        return;
    if (button->view)
        button->view->stop();
    if (button->action)
        button->action->stop();
    forget(button->view.get(), this);
    forget(button->action.get(), this);
    button->view.reset();
    button->action.reset();
    button->image.reset();
    button->actionCode = 0;
    button->scanCode = 0;
    button->keystroke.clear();
    button->showing = false;
}

void QXLayer::setView(size_t keyIndex, QXKeyViewInstance::Ptr view) {
    QXButton* button = getButton(keyIndex);
    if (!button)
        return;
    if (button->view) {
        button->view->stop();
        button->view->forgetHolder(this);
    }
    button->view = std::move(view);
    if (button->view) {
        button->image.reset();
        button->view->setKeyIndex(static_cast<int>(keyIndex));
        button->view->setHolder(this);
        if (isActive())
            button->view->start();
    }
}

void QXLayer::setAction(size_t keyIndex, QXKeyActionInstance::Ptr action) {
    QXButton* button = getButton(keyIndex);
    if (!button)
        return;
    if (button->action) {
        button->action->stop();
        button->action->forgetHolder(this);
    }
    button->action = std::move(action);
    button->actionCode = 0;
    button->scanCode = 0;
    if (button->action) {
        button->action->setKeyIndex(static_cast<int>(keyIndex));
        button->action->setHolder(this);
        if (isActive())
            button->action->start();
    }
}

void QXLayer::markAllChanged() {
    for (QXButton& button : m_buttons)
        if (button.image)
            button.image->setChanged(true);
}

// ---- group ---------------------------------------------------------------------------

void QXLayersGroup::loadFrom(const QXPropertyNode& node) {
    if (QXPropertyNode::Ptr order = node.findChild(u"ItemOrder"))
        addLoadedItems(m_items, *order);
    loadCommon(node);
}

void QXLayersGroup::saveTo(QXPropertyNode& parent) const {
    QXPropertyNode::Ptr node = saveCommon(parent);
    if (!m_items.empty()) {
        QXPropertyNode::Ptr order = node->addChild(u"ItemOrder");
        for (const QXLayersItem::Ptr& item : m_items)
            item->saveTo(*order);
    }
}

// ---- lists ---------------------------------------------------------------------------

QXLayersItem::Ptr findItem(const QXItemList& list, std::u16string_view identifier) {
    for (const QXLayersItem::Ptr& item : list)
        if (item && item->identifier() == identifier)
            return item;
    return {};
}

void addItem(QXItemList& list, QXLayersItem::Ptr item) {
    for (QXLayersItem::Ptr& existing : list) {
        if (existing && existing->identifier() == item->identifier()) {
            existing = std::move(item);
            return;
        }
    }
    list.push_back(std::move(item));
}

void addLoadedItem(QXItemList& list, QXLayersItem::Ptr item) {
    std::erase_if(list, [&](const QXLayersItem::Ptr& existing) {
        return existing && existing->identifier() == item->identifier();
    });
    list.push_back(std::move(item));
}

void addLoadedItems(QXItemList& list, const QXPropertyNode& order) {
    // One pass with an index of identifiers: a group of many thousand items reads in
    // linear time. Replaced items become holes, closed at the end.
    std::unordered_map<std::u16string, std::vector<size_t>> at;
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i])
            at[list[i]->identifier()].push_back(i);
    bool holes = false;
    for (const QXPropertyNode::Ptr& child : order.children()) {
        QXLayersItem::Ptr item = createItem(*child);
        std::vector<size_t>& places = at[item->identifier()];
        for (size_t i : places)
            list[i].reset();
        holes = holes || !places.empty();
        places.assign(1, list.size());
        list.push_back(std::move(item));
    }
    if (holes)
        std::erase_if(list, [](const QXLayersItem::Ptr& item) { return !item; });
}

void insertItem(QXItemList& list, QXLayersItem::Ptr item, const QXLayersItem::Ptr& after) {
    if (!after) {
        std::erase_if(list, [&](const QXLayersItem::Ptr& existing) {
            return existing && existing->identifier() == item->identifier();
        });
        list.insert(list.begin(), std::move(item));
        return;
    }
    auto it = std::find(list.begin(), list.end(), after);
    if (it == list.end())
        list.push_back(std::move(item));
    else
        list.insert(it + 1, std::move(item));
}

bool removeItem(QXItemList& list, const QXLayersItem::Ptr& item) {
    auto it = std::find(list.begin(), list.end(), item);
    if (it == list.end())
        return false;
    list.erase(it);
    return true;
}

std::vector<QXLayer::Ptr> flatten(const QXItemList& list,
                                  const std::function<bool(const QXLayersItem&)>& predicate) {
    std::vector<QXLayer::Ptr> layers;
    std::function<void(const QXItemList&)> walk = [&](const QXItemList& items) {
        for (const QXLayersItem::Ptr& item : items) {
            if (!item)
                continue;
            if (item->isGroup()) {
                walk(item->children());
            } else if (predicate(*item)) {
                layers.push_back(item.staticCast<QXLayer>());
            }
        }
    };
    walk(list);
    return layers;
}

// ---- making items --------------------------------------------------------------------

QXLayersItem::Ptr createItem(const QXPropertyNode& node) {
    QXLayersItem::Ptr item;
    if (node.childValue(u"Type") == u"Group")
        item = makeQX<QXLayersGroup>(node.name());
    else
        item = makeQX<QXLayer>(node.name());
    item->loadFrom(node);
    return item;
}

QXLayer::Ptr createLayer(QXItemList& list, const QXLayersItem::Ptr& after) {
    auto layer = makeQX<QXLayer>(newGuid());
    layer->setDisplayName(u"New layer");
    insertItem(list, layer, after);
    return layer;
}

QXPtr<QXLayersGroup> createGroup(QXItemList& list, const QXLayersItem::Ptr& after) {
    auto group = makeQX<QXLayersGroup>(newGuid());
    group->setDisplayName(u"New group");
    insertItem(list, group, after);
    return group;
}

void markAllChanged(QXLayersItem& item) {
    if (auto* layer = dynamic_cast<QXLayer*>(&item))
        layer->markAllChanged();
    for (const QXLayersItem::Ptr& child : item.children())
        markAllChanged(*child);
}
