#include "model/QXLayersController.h"

#include "model/QXKeyTable.h"
#include "model/QXLayoutPicture.h"
#include "platform/QXDesktop.h"
#include "platform/QXDispatch.h"
#include "platform/QXFiles.h"
#include "platform/QXFolders.h"
#include "platform/QXLog.h"
#include "platform/QXMessages.h"
#include "platform/QXText.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace {

// A display name as part of a file name: no folder separators.
std::u16string fileNamePart(std::u16string text) {
    std::replace(text.begin(), text.end(), u'/', u'_');
    return text;
}

// An item as a log message names it: its display name, or its identifier without one.
std::string quoted(const QXLayersItem& item) {
    return "\"" + toUtf8(item.displayName().empty() ? item.identifier() : item.displayName()) +
           "\"";
}

} // namespace

QXLayersController::QXLayersController(QXLayerTree& tree)
    : QXLayersController(tree, QXDispatch::current()) {}

QXLayersController::QXLayersController(QXLayerTree& tree, QXDispatch& dispatch)
    : m_tree(tree), m_dispatch(dispatch),
      m_opener([](const fs::path& file) { return QXDesktop::open(file.string()); }) {
    for (uint32_t message :
         {QXM_HOOK_MODIFIERS, QXM_RUNNING_APPS_CHANGED, QXM_FOREGROUND_APP_CHANGED,
          QXM_HOOK_LANGUAGE, QXM_DEVICE_STATE, QXM_CONDITIONS_CHANGED})
        m_dispatch.RegisterHandler(message, this, &QXLayersController::reevaluate);
    m_dispatch.RegisterHandler(QXM_DEVICE_KEY, this, &QXLayersController::keyDeviceEvent);
    m_dispatch.RegisterHandler(QXM_SHELL_CHANGE, this, &QXLayersController::shellChange);
    if (auto temporary = QXFolders::temporaryFolder()) {
        m_editorFolder = *temporary / "Editor Layots";
        createFolders(m_editorFolder);
    }
}

QXLayersController::~QXLayersController() {
    m_dispatch.UnregisterObject(this);
}

// ---- stacks --------------------------------------------------------------------------

QXCompositeLayer QXLayersController::pictureStack() const {
    QXCompositeLayer stack;
    stack.layers() = m_selected.layers();
    stack.layers().insert(stack.layers().end(), m_active.layers().begin(), m_active.layers().end());
    return stack;
}

QXCompositeLayer QXLayersController::shownStack() const {
    QXCompositeLayer stack;
    stack.layers() = m_selected.layers();
    for (const QXLayer::Ptr& layer : m_active.layers())
        if (!layer->isSelected())
            stack.layers().push_back(layer);
    return stack;
}

QXCompositeLayer QXLayersController::dumpStack() const {
    static constexpr std::u16string_view kCapsLock = u"control_buttons_caps_lock";
    static constexpr std::u16string_view kLockLayers[] = {kCapsLock, u"control_buttons_num_lock",
                                                          u"control_buttons_scroll_lock"};
    QXCompositeLayer stack;
    for (const QXLayer::Ptr& layer : m_active.layers())
        if (std::find(std::begin(kLockLayers), std::end(kLockLayers), layer->identifier()) ==
            std::end(kLockLayers))
            stack.layers().push_back(layer);
    const QXLayersItem::Ptr control = m_tree.find(u"control_buttons");
    QXLayer::Ptr caps =
        control ? findItem(control->children(), kCapsLock).dynamicCast<QXLayer>() : QXLayer::Ptr();
    if (caps)
        stack.layers().push_back(caps);
    else
        QXLog::warning(QXLog::kModel, "the dumped files show no Caps Lock indicator: the layer "
                                      "control_buttons_caps_lock is missing from control_buttons");
    return stack;
}

void QXLayersController::rebuildSelectedStack() {
    m_selected.layers() =
        flatten(m_tree.topLevel(), [](const QXLayersItem& i) { return i.isSelected(); });
}

// ---- evaluation ----------------------------------------------------------------------

bool QXLayersController::evaluate(QXItemList& list) {
    bool changed = false;
    for (const QXLayersItem::Ptr& item : list) {
        const bool qualifies = item->isEnabled() && evaluateAll(item->conditions());
        if (qualifies || item->isSelected())
            changed = activate(item) || changed;
        else
            changed = deactivate(item) || changed;
    }
    return changed;
}

bool QXLayersController::activate(const QXLayersItem::Ptr& item) {
    bool changed = false;
    if (!item->isGroup()) {
        if (!item->isActive()) {
            m_active.layers().push_back(item.staticCast<QXLayer>());
            changed = true;
        }
    } else {
        changed = evaluate(item->children());
    }
    item->activate();
    return changed;
}

bool QXLayersController::deactivate(const QXLayersItem::Ptr& item) {
    bool changed = false;
    if (!item->isGroup()) {
        auto& layers = m_active.layers();
        auto it = std::find(layers.begin(), layers.end(), item);
        if (it != layers.end()) {
            layers.erase(it);
            changed = true;
        }
    } else {
        for (const QXLayersItem::Ptr& child : item->children())
            if (!child->isSelected())
                changed = deactivate(child) || changed;
    }
    item->deactivate();
    return changed;
}

void QXLayersController::reevaluate() {
    if (evaluate(m_tree.topLevel()))
        rebuild();
}

void QXLayersController::enableItem(const QXLayersItem::Ptr& item) {
    if (item->isEnabled())
        return;
    item->setFlag(QXLayersItem::kEnabled);
    if (evaluateAll(item->conditions()) && activate(item))
        rebuild();
}

void QXLayersController::disableItem(const QXLayersItem::Ptr& item) {
    if (!item->isEnabled())
        return;
    bool changed = false;
    if (item->isGroup() || !item->isSelected())
        changed = deactivate(item);
    item->clearFlag(QXLayersItem::kEnabled);
    if (changed)
        rebuild();
}

void QXLayersController::selectItem(const QXLayersItem::Ptr& item) {
    item->setFlag(QXLayersItem::kSelected);
    addItem(m_selectedItems, item);
    if (item->isGroup())
        return; // a selected group takes effect at the next evaluation
    rebuildSelectedStack();
    if (item->isActive()) {
        updateShownViews();
    } else {
        activate(item);
        rebuild();
    }
}

void QXLayersController::unselectItem(const QXLayersItem::Ptr& item) {
    if (!item->isSelected())
        return;
    item->clearFlag(QXLayersItem::kSelected);
    ::removeItem(m_selectedItems, item);
    rebuildSelectedStack();
    // It keeps its place only when it qualifies by itself.
    evaluate(m_tree.topLevel());
    rebuild();
}

void QXLayersController::selectOnly(const QXLayersItem::Ptr& item) {
    for (const QXLayersItem::Ptr& old : m_selectedItems)
        if (old != item)
            old->clearFlag(QXLayersItem::kSelected);
    m_selectedItems.clear();
    if (item) {
        item->setFlag(QXLayersItem::kSelected);
        m_selectedItems.push_back(item);
    }
    rebuildSelectedStack();
    // The items let go of keep their place only when they qualify by themselves; a
    // selected layer is active even inside a group that is not.
    evaluate(m_tree.topLevel());
    if (item && !item->isGroup() && !item->isActive())
        activate(item);
    rebuild();
}

void QXLayersController::unselectAll() {
    while (!m_selectedItems.empty())
        unselectItem(m_selectedItems.front());
}

void QXLayersController::forgetItem(const QXLayersItem::Ptr& item) {
    if (item->isSelected()) {
        item->clearFlag(QXLayersItem::kSelected);
        ::removeItem(m_selectedItems, item);
    }
    for (const QXLayersItem::Ptr& child : item->children())
        forgetItem(child);
    deactivate(item);
    rebuildSelectedStack();
    rebuild();
}

void QXLayersController::conditionsChanged(const QXLayersItem::Ptr&) {
    reevaluate();
}

void QXLayersController::conditionRemoved(const QXLayersItem::Ptr& item) {
    if (item->isEnabled() && !item->isActive() && evaluateAll(item->conditions()))
        reevaluate();
}

// ---- editing the tree ----------------------------------------------------------------

bool QXLayersController::isFixedItem(const QXLayersItem& item) {
    return item.hasFlag(QXLayersItem::kFixed) || item.hasFlag(QXLayersItem::kUserLayers) ||
           item.hasFlag(QXLayersItem::kSystemLayers);
}

QXItemList* QXLayersController::parentList(const QXLayersItem::Ptr& item) {
    if (!item)
        return nullptr;
    QXLayersItem::Ptr group = parentGroup(item);
    if (group)
        return &group->children();
    QXItemList& top = m_tree.topLevel();
    return std::find(top.begin(), top.end(), item) != top.end() ? &top : nullptr;
}

QXLayersItem::Ptr QXLayersController::parentGroup(const QXLayersItem::Ptr& item) const {
    std::function<QXLayersItem::Ptr(const QXItemList&)> search =
        [&](const QXItemList& list) -> QXLayersItem::Ptr {
        for (const QXLayersItem::Ptr& candidate : list) {
            if (!candidate || !candidate->isGroup())
                continue;
            const QXItemList& children = candidate->children();
            if (std::find(children.begin(), children.end(), item) != children.end())
                return candidate;
            if (QXLayersItem::Ptr deeper = search(children))
                return deeper;
        }
        return {};
    };
    return item ? search(m_tree.topLevel()) : QXLayersItem::Ptr();
}

std::pair<QXItemList*, QXLayersItem::Ptr>
QXLayersController::newPlace(const QXLayersItem::Ptr& near) {
    if (near && near->isGroup() &&
        (near->hasFlag(QXLayersItem::kUserLayers) || near->hasFlag(QXLayersItem::kSystemLayers)))
        return {&near->children(), {}};
    if (QXItemList* list = parentList(near))
        return {list, near};
    if (QXLayersItem::Ptr user = m_tree.userLayers())
        return {&user->children(), {}};
    return {&m_tree.topLevel(), {}};
}

void QXLayersController::treeChanged() {
    evaluate(m_tree.topLevel());
    rebuildSelectedStack();
    rebuild();
}

QXLayer::Ptr QXLayersController::newLayer(const QXLayersItem::Ptr& near) {
    auto [list, after] = newPlace(near);
    QXLayer::Ptr layer = createLayer(*list, after);
    treeChanged();
    m_dispatch.Send(QXM_LAYERS_CHANGED);
    return layer;
}

QXPtr<QXLayersGroup> QXLayersController::newGroup(const QXLayersItem::Ptr& near) {
    auto [list, after] = newPlace(near);
    QXPtr<QXLayersGroup> group = createGroup(*list, after);
    treeChanged();
    m_dispatch.Send(QXM_LAYERS_CHANGED);
    return group;
}

bool QXLayersController::removeItem(const QXLayersItem::Ptr& item) {
    if (!item)
        return false;
    const std::string name = quoted(*item);
    if (isFixedItem(*item)) {
        QXLog::warning(QXLog::kModel, name + " is not deleted: the program keeps it");
        return false;
    }
    QXItemList* list = parentList(item);
    if (!list) {
        QXLog::warning(QXLog::kModel, name + " is not deleted: it is not in the tree");
        return false;
    }
    forgetItem(item);
    ::removeItem(*list, item);
    treeChanged();
    m_dispatch.Send(QXM_LAYERS_CHANGED);
    return true;
}

bool QXLayersController::moveItem(const QXLayersItem::Ptr& item,
                                  const QXLayersItem::Ptr& newParentGroup,
                                  const QXLayersItem::Ptr& after) {
    if (!item)
        return false;
    const std::string name = quoted(*item);
    auto refuse = [&](const std::string& reason) {
        QXLog::warning(QXLog::kModel, name + " is not moved: " + reason);
        return false;
    };
    if (isFixedItem(*item))
        return refuse("the program keeps it where it is");
    QXItemList* from = parentList(item);
    if (!from)
        return refuse("it is not in the tree");
    if (newParentGroup && !newParentGroup->isGroup())
        return refuse("only a group holds items");
    if (newParentGroup && parentList(newParentGroup) == nullptr)
        return refuse("the group is not in the tree");
    for (QXLayersItem::Ptr up = newParentGroup; up; up = parentGroup(up))
        if (up == item)
            return refuse("a group cannot go into itself");
    QXItemList& to = newParentGroup ? newParentGroup->children() : m_tree.topLevel();
    if (after == item)
        return true; // right after itself: where it is
    if (after && std::find(to.begin(), to.end(), after) == to.end())
        return refuse("the item it should follow is not in that group");
    const QXLayersItem::Ptr namesake = findItem(to, item->identifier());
    if (namesake && namesake != item)
        return refuse("that group already holds an item stored under the same name");
    ::removeItem(*from, item);
    insertItem(to, item, after);
    markAllChanged(*item);
    treeChanged();
    m_dispatch.Send(QXM_LAYERS_CHANGED);
    return true;
}

void QXLayersController::setItemEnabled(const QXLayersItem::Ptr& item, bool enabled) {
    if (!item || item->isEnabled() == enabled)
        return;
    if (enabled)
        enableItem(item);
    else
        disableItem(item);
    // enableItem activates by the item's own conditions; inside a group that is off it
    // must stay off, which only an evaluation from the top can tell.
    treeChanged();
}

bool QXLayersController::renameItem(const QXLayersItem::Ptr& item, std::u16string name) {
    if (!item)
        return false;
    if (isFixedItem(*item)) {
        QXLog::warning(QXLog::kModel, quoted(*item) + " keeps its name: the program names it");
        return false;
    }
    if (name.find_first_not_of(u" \t") == std::u16string::npos) {
        QXLog::warning(QXLog::kModel, quoted(*item) + " keeps its name: a name cannot be empty");
        return false;
    }
    if (name == item->displayName())
        return true;
    item->setDisplayName(std::move(name));
    m_dispatch.Send(QXM_LAYERS_CHANGED);
    return true;
}

// ---- keys ----------------------------------------------------------------------------

void QXLayersController::keyEvent(size_t keyIndex, int state) {
    QXButton* button = m_active.getButton(keyIndex);
    if (button && button->action)
        button->action->keyEvent(static_cast<int>(keyIndex), state);
}

void QXLayersController::keyDeviceEvent(unsigned keyIndex, long state) {
    keyEvent(keyIndex, static_cast<int>(state));
}

void QXLayersController::pressKeyOnce(QXLayer& layer, size_t keyIndex) {
    QXButton* button = layer.getButton(keyIndex);
    if (!button || !button->action)
        return;
    button->action->keyEvent(static_cast<int>(keyIndex), 1);
    button->action->keyEvent(static_cast<int>(keyIndex), 0);
}

// ---- rebuild -------------------------------------------------------------------------

void QXLayersController::rebuild() {
    m_active.layers() =
        flatten(m_tree.topLevel(), [](const QXLayersItem& i) { return i.isActive(); });
    updateShownViews();
    m_dispatch.Send(QXM_LAYER_STATE_CHANGED);
}

void QXLayersController::updateShownViews() {
    const QXCompositeLayer shown = shownStack();
    // The pictures about to be shown that are not in memory are read together first: a
    // newly selected layer brings a whole keyboard of them.
    std::vector<QXImage*> unread;
    for (size_t key = 0; key < m_shown.size(); ++key)
        for (const QXLayer::Ptr& layer : shown.layers()) {
            QXButton* button = layer->getButton(key);
            if (!button->isAssigned())
                continue;
            if (button->image && !button->image->isLoaded() && !button->image->sourcePath().empty())
                unread.push_back(button->image.get());
            break;
        }
    std::sort(unread.begin(), unread.end());
    unread.erase(std::unique(unread.begin(), unread.end()), unread.end());
    if (unread.size() > 1)
        QXImage::loadSources(unread);
    for (size_t key = 0; key < m_shown.size(); ++key) {
        QXLayer::Ptr winner;
        QXButton* winning = nullptr;
        for (const QXLayer::Ptr& layer : shown.layers()) {
            QXButton* button = layer->getButton(key);
            if (!button->isAssigned())
                continue;
            if (!winning) {
                winner = layer;
                winning = button;
            } else if (button->showing || (button->view && button->view->isShown())) {
                button->hide(); // a loser
            }
        }
        Shown& before = m_shown[key];
        const bool changed = before.button != winning;
        // The previous winner lost the key, or left the stack altogether.
        if (changed && before.button && before.button->showing)
            before.button->hide();
        if (winning && (!winning->showing || (winning->image && !winning->image->isLoaded())))
            winning->show();
        before = Shown{winner, winning};
        if (changed)
            m_dispatch.Send(QXM_KEY_CHANGED, key);
    }
}

// ---- outside editor ------------------------------------------------------------------

fs::path QXLayersController::editLayerAsPicture(const QXLayer::Ptr& layer) {
    if (m_editorFolder.empty() || !createFolders(m_editorFolder))
        return {};
    QXImage picture = QXLayoutPicture::compose(*layer);
    if (!picture.isLoaded())
        return {};
    const fs::path file = m_editorFolder / toPath(fileNamePart(layer->displayName()) + u" - " +
                                                  fileNamePart(layer->identifier()) + u".bmp");
    if (!picture.saveFile(file))
        return {};
    std::error_code ec;
    const auto written = fs::last_write_time(file, ec);
    std::erase_if(m_watches, [&](const Watch& w) { return w.file == file; });
    m_watches.push_back(Watch{layer, file, written});
    m_opener(file);
    return file;
}

void QXLayersController::shellChange() {
    for (Watch& watch : m_watches) {
        std::error_code ec;
        const auto written = fs::last_write_time(watch.file, ec);
        if (ec || written <= watch.written)
            continue;
        QXImage picture;
        if (!picture.loadFile(watch.file))
            continue; // being written still; the next notification brings it
        watch.written = written;
        if (!QXLayoutPicture::takeBack(*watch.layer, picture))
            continue;
        updateShownViews();
        const std::u16string id = watch.layer->identifier();
        m_dispatch.SendCopyData(QXM_LAYERS_CHANGED, id.c_str(), (id.size() + 1) * 2);
    }
}
