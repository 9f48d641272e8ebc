#pragma once

#include "model/QXLayerTree.h"
#include "platform/QXSingleton.h"

#include <array>
#include <filesystem>
#include <functional>
#include <utility>
#include <vector>

class QXDispatch;

// Decides, at every moment, which layers are active and which button wins each key.
//
// Items are active while they are enabled and their conditions hold, or while the
// editor has them selected. The active layers in tree order form the active stack, on
// which key presses are resolved; the selected layers on top of it form the picture
// stack, which the keyboard shows. For each key the first layer whose button is
// assigned wins. After every change the winners' pictures and views are shown and the
// losers' hidden, 2043 goes out for each key whose winner changed, and 2036 once.
//
// Runs on the GUI thread, driven by the dispatch: conditions are evaluated again on
// 2025, 2029, 2030, 2031, 2040 and 2046; 2045 carries key presses from the keyboard;
// 2033 tells of changes in the folder of layer pictures handed to an outside editor.
class QXLayersController {
public:
    explicit QXLayersController(QXLayerTree& tree);
    QXLayersController(QXLayerTree& tree, QXDispatch& dispatch);
    ~QXLayersController();
    QXLayersController(const QXLayersController&) = delete;
    QXLayersController& operator=(const QXLayersController&) = delete;

    QXLayerTree& tree() { return m_tree; }

    const QXCompositeLayer& activeStack() const { return m_active; }
    const QXCompositeLayer& selectedStack() const { return m_selected; }
    const QXItemList& selectedItems() const { return m_selectedItems; }
    // The selected layers, then the active ones: what the keyboard shows.
    QXCompositeLayer pictureStack() const;
    // The selected layers, then the active ones that are not selected.
    QXCompositeLayer shownStack() const;
    // What the keyboard's files written to a folder show: the active layers without the
    // lock layers of "control_buttons", then that group's Caps Lock layer, whatever the
    // lock states are. Its pictures need not be loaded (they may not be shown).
    QXCompositeLayer dumpStack() const;

    // Evaluates every item's conditions again and rebuilds when anything changed.
    void reevaluate();
    void enableItem(const QXLayersItem::Ptr& item);
    void disableItem(const QXLayersItem::Ptr& item);
    void selectItem(const QXLayersItem::Ptr& item);
    void unselectItem(const QXLayersItem::Ptr& item);
    // Unselects every selected item (before the profile is saved at exit).
    void unselectAll();
    // Makes the item the only selected one (none: nothing selected) in one step, so the
    // keyboard goes straight from the old selection to the new one.
    void selectOnly(const QXLayersItem::Ptr& item);
    // Takes an item out of the stacks and the selection before the editor removes it.
    void forgetItem(const QXLayersItem::Ptr& item);
    // After the editor changed an item's conditions.
    void conditionsChanged(const QXLayersItem::Ptr& item);
    void conditionRemoved(const QXLayersItem::Ptr& item);

    // ---- editing the tree (the editor's layer tree) --------------------------------
    // Each change below is followed by a rebuild and 2035; a refusal is logged and
    // changes nothing. Fixed items ("user_layers", "system_layers", the language groups
    // and their generated layers) are neither removed, moved nor renamed.

    // A new "New layer" or "New group" placed next to the item the user is on: right
    // after it in its own list; at the front of "user_layers" or "system_layers" when
    // it is one of those two; at the front of "user_layers" without one (or when it is
    // not in the tree). It is activated when its place is active, so a key assigned in
    // it shows at once.
    QXLayer::Ptr newLayer(const QXLayersItem::Ptr& near);
    QXPtr<QXLayersGroup> newGroup(const QXLayersItem::Ptr& near);
    // Takes the item out of the stacks and out of its list.
    bool removeItem(const QXLayersItem::Ptr& item);
    // Puts the item into the group (the top-level list for none), after the reference
    // item (at the front for none). Refused for fixed items, into a layer, into the item
    // itself or its own descendants, after an item not in that list, and when the list
    // already holds another item of the same identifier (their folders would collide).
    // The moved item's pictures are marked changed: it is saved into another folder.
    bool moveItem(const QXLayersItem::Ptr& item, const QXLayersItem::Ptr& newParentGroup,
                  const QXLayersItem::Ptr& after);
    void setItemEnabled(const QXLayersItem::Ptr& item, bool enabled);
    // Refused for an empty (or blank) name and for fixed items.
    bool renameItem(const QXLayersItem::Ptr& item, std::u16string name);
    static bool isFixedItem(const QXLayersItem& item);

    // The list holding the item, or null when it is not in the tree.
    QXItemList* parentList(const QXLayersItem::Ptr& item);
    // The group holding the item; none for a top-level item or one not in the tree.
    QXLayersItem::Ptr parentGroup(const QXLayersItem::Ptr& item) const;

    // A key of the keyboard went down (state 1) or up: the winning button of the active
    // stack gets it when it has an action.
    void keyEvent(size_t keyIndex, int state);
    // The editor's test press of one layer's button: down and up.
    void pressKeyOnce(QXLayer& layer, size_t keyIndex);

    // Recomputes the active stack, shows and hides views and pictures, sends 2043 for
    // each changed key and then 2036.
    void rebuild();
    // Shows the winners and hides the losers of the shown stack; 2043 for changed keys.
    void updateShownViews();

    // Editing a layer as one picture in an outside program: the layout picture is
    // written to "Editor Layots" in the temporary folder as a bitmap and opened with the
    // desktop's opener. The path of the bitmap, empty on failure.
    std::filesystem::path editLayerAsPicture(const QXLayer::Ptr& layer);
    // A change in that folder (2033): edited bitmaps are taken back into their layers.
    void shellChange();
    const std::filesystem::path& editorFolder() const { return m_editorFolder; }
    // How a bitmap is opened; the desktop's opener unless replaced (tests).
    void setOpener(std::function<bool(const std::filesystem::path&)> opener) {
        m_opener = std::move(opener);
    }

private:
    struct Watch {
        QXLayer::Ptr layer;
        std::filesystem::path file;
        std::filesystem::file_time_type written;
    };
    struct Shown {
        QXLayer::Ptr layer; // keeps the layer alive while its button is shown
        QXButton* button = nullptr;
    };

    bool evaluate(QXItemList& list);
    // After the tree's shape changed: every item evaluated again, both stacks rebuilt.
    void treeChanged();
    // Where a new item goes for the item the user is on: the list and the item after
    // which it is inserted (none: the front).
    std::pair<QXItemList*, QXLayersItem::Ptr> newPlace(const QXLayersItem::Ptr& near);
    bool activate(const QXLayersItem::Ptr& item);
    bool deactivate(const QXLayersItem::Ptr& item);
    void rebuildSelectedStack();
    void keyDeviceEvent(unsigned keyIndex, long state);

    QXLayerTree& m_tree;
    QXDispatch& m_dispatch;
    QXItemList m_selectedItems;
    QXCompositeLayer m_selected;
    QXCompositeLayer m_active;
    std::array<Shown, 113> m_shown{};
    std::filesystem::path m_editorFolder;
    std::vector<Watch> m_watches;
    std::function<bool(const std::filesystem::path&)> m_opener;
};
