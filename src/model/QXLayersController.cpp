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

} // namespace

QXLayersController::QXLayersController(QXLayerTree& tree)
    : QXLayersController(tree, QXDispatch::current()) {}

QXLayersController::QXLayersController(QXLayerTree& tree, QXDispatch& dispatch)
    : m_tree(tree), m_dispatch(dispatch),
      m_opener([](const fs::path& file) { return QXDesktop::open(file.string()); }) {
    for (uint32_t message : {QXM_HOOK_MODIFIERS, QXM_RUNNING_APPS_CHANGED,
                             QXM_FOREGROUND_APP_CHANGED, QXM_HOOK_LANGUAGE, QXM_DEVICE_STATE,
                             QXM_CONDITIONS_CHANGED})
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
    QXLayer::Ptr caps = control ? findItem(control->children(), kCapsLock).dynamicCast<QXLayer>()
                                : QXLayer::Ptr();
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
    removeItem(m_selectedItems, item);
    rebuildSelectedStack();
    // It keeps its place only when it qualifies by itself.
    evaluate(m_tree.topLevel());
    rebuild();
}

void QXLayersController::unselectAll() {
    while (!m_selectedItems.empty())
        unselectItem(m_selectedItems.front());
}

void QXLayersController::forgetItem(const QXLayersItem::Ptr& item) {
    if (item->isSelected()) {
        item->clearFlag(QXLayersItem::kSelected);
        removeItem(m_selectedItems, item);
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
