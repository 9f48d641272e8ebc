#pragma once

#include "model/QXLayersItem.h"

#include <QIcon>
#include <QTreeWidget>
#include <array>
#include <set>
#include <string>
#include <unordered_map>

class CQXLayersView;
class QXDispatch;
class QXLayersController;

// The editor's tree of layers and groups, left of the keyboard view. It mirrors the
// layers controller's tree and is rebuilt from it on 2035 and 2044; every change the user
// makes here (new, delete, rename, on/off, drag and drop) goes through the controller.
//
// Selecting an item makes it the controller's one selected item (the keyboard view's
// current layer) and sends 2034; selections made by rebuilding send nothing. A group
// without children shows a grey "(empty)" line, an empty tree a grey "(No layers)"; these
// lines can be neither selected nor dragged, but dropping on "(empty)" puts the item into
// its group. Fixed items can be neither dragged, renamed nor deleted.
//
// The check box of an item is its state image, from a list of four: "unused" (the
// placeholder lines), "unchecked normal", "checked normal", and "checked disabled" for an
// enabled item inside a group that is switched off (so it stays off, whatever its own box
// says). The same state is the item's check state for accessibility.
class CQXLayersTreeCtrl : public QTreeWidget {
    Q_OBJECT
public:
    enum StateImage { kUnused = 0, kUnchecked = 1, kChecked = 2, kCheckedDisabled = 3 };
    static constexpr int kStateImageSize = 20;
    // What the drags of this tree carry: which tree (in which process) and which item.
    static constexpr const char* kMimeType = "application/x-tessera-quadrix-layers-item";

    CQXLayersTreeCtrl(QXLayersController& controller, QXDispatch& dispatch,
                      QWidget* parent = nullptr);
    ~CQXLayersTreeCtrl() override;

    // The one selected item, or none.
    QXLayersItem::Ptr selectedItem() const;
    // The layer item a tree item stands for; none for the placeholder lines.
    QXLayersItem::Ptr itemOf(QTreeWidgetItem* treeItem) const;
    QTreeWidgetItem* treeItemOf(const QXLayersItem::Ptr& item) const;
    // Selects as a user click would (sends 2034 when the selection changes).
    void selectItem(const QXLayersItem::Ptr& item);
    // Builds every line again from the controller's tree, keeping the selection (the
    // controller's selected item) and the collapsed groups.
    void rebuild();
    // Lets keys dragged from the keyboard view be carried over the tree's layers.
    void attachKeyboardView(CQXLayersView* view);

    // Next to the selection (see QXLayersController::newLayer), then selected.
    QXLayersItem::Ptr newLayer();
    QXLayersItem::Ptr newGroup();
    // Deletes the selected item and selects its neighbour; false when refused.
    bool deleteSelected();
    // Starts editing the selected item's name.
    void renameSelected();

    // The state image an item shows now, and the list's pictures.
    StateImage stateImageOf(QTreeWidgetItem* treeItem) const;
    const std::array<QIcon, 4>& stateImages() const { return m_stateImages; }
    // Where a drop at this viewport point would put the item: its new group (none: the
    // top level) and the item it would follow (none: the front). False for no place.
    bool dropPlace(QPoint viewportPoint, QXLayersItem::Ptr& group, QXLayersItem::Ptr& after) const;

signals:
    // The user (or selectItem, newLayer, newGroup, deleteSelected) changed the selection.
    void selectionChangedByUser();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QList<QTreeWidgetItem*>& items) const override;
    Qt::DropActions supportedDropActions() const override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    class StateDelegate;

    void addItems(QTreeWidgetItem* parent, const QXItemList& list, bool parentOn);
    QTreeWidgetItem* addPlaceholder(QTreeWidgetItem* parent, const QString& text);
    void refreshStates();
    void applyState(QTreeWidgetItem* treeItem, StateImage state);
    void drawStateImages();
    void toggle(QTreeWidgetItem* treeItem);
    void onSelectionChanged();
    void onItemChanged(QTreeWidgetItem* treeItem, int column);
    void onLayersChanged();
    QXLayersItem::Ptr draggedItem(const QMimeData* mime) const;

    QXLayersController& m_controller;
    QXDispatch& m_dispatch;
    std::unordered_map<QTreeWidgetItem*, QXLayersItem::Ptr> m_items;
    std::unordered_map<const QXLayersItem*, QTreeWidgetItem*> m_treeItems;
    std::set<std::u16string> m_collapsed; // identifiers of the groups the user closed
    std::array<QIcon, 4> m_stateImages;
    bool m_building = false; // rebuilding: no 2034, no edits
    bool m_applying = false; // inside the tree's own edit: a rebuild waits
    bool m_rebuildQueued = false;
};
