#include "editor/CQXLayersTreeCtrl.h"

#include "editor/CQXLayersView.h"
#include "model/QXLayersController.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"

#include <QCoreApplication>
#include <QDrag>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QStyledItemDelegate>
#include <algorithm>
#include <functional>

namespace {

constexpr int kStateRole = Qt::UserRole + 1;

QString shownName(const QXLayersItem& item) {
    return QString::fromStdU16String(item.displayName().empty() ? item.identifier()
                                                                : item.displayName());
}

} // namespace

// Draws no check box of its own (the state image is the box) and switches the item when
// the state image is clicked or Space is pressed.
class CQXLayersTreeCtrl::StateDelegate : public QStyledItemDelegate {
public:
    explicit StateDelegate(CQXLayersTreeCtrl* tree) : QStyledItemDelegate(tree), m_tree(tree) {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->features &= ~QStyleOptionViewItem::HasCheckIndicator;
    }

    bool editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override {
        QTreeWidgetItem* treeItem = m_tree->itemFromIndex(index);
        if (!treeItem || !m_tree->itemOf(treeItem))
            return false;
        switch (event->type()) {
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            QStyleOptionViewItem box(option);
            initStyleOption(&box, index);
            const QRect image =
                m_tree->style()->subElementRect(QStyle::SE_ItemViewItemDecoration, &box, m_tree);
            if (mouse->button() != Qt::LeftButton || !image.contains(mouse->position().toPoint()))
                return false;
            if (event->type() == QEvent::MouseButtonRelease)
                m_tree->toggle(treeItem);
            return true; // a double click on the box does not also open the group
        }
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key != Qt::Key_Space && key != Qt::Key_Select)
                return false;
            m_tree->toggle(treeItem);
            return true;
        }
        default:
            return false;
        }
    }

private:
    CQXLayersTreeCtrl* m_tree;
};

CQXLayersTreeCtrl::CQXLayersTreeCtrl(QXLayersController& controller, QXDispatch& dispatch,
                                     QWidget* parent)
    : QTreeWidget(parent), m_controller(controller), m_dispatch(dispatch) {
    setObjectName(QStringLiteral("CQXLayersTreeCtrl"));
    setAccessibleName(QStringLiteral("Layers"));
    setHeaderHidden(true);
    setColumnCount(1);
    setSelectionMode(SingleSelection);
    setIconSize(QSize(kStateImageSize, kStateImageSize));
    setEditTriggers(EditKeyPressed);
    setDragDropMode(InternalMove);
    setDropIndicatorShown(true);
    setItemDelegate(new StateDelegate(this));
    drawStateImages();

    connect(this, &QTreeWidget::itemSelectionChanged, this, &CQXLayersTreeCtrl::onSelectionChanged);
    connect(this, &QTreeWidget::itemChanged, this, &CQXLayersTreeCtrl::onItemChanged);
    connect(this, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* treeItem) {
        if (QXLayersItem::Ptr item = itemOf(treeItem); item && !m_building)
            m_collapsed.insert(item->identifier());
    });
    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* treeItem) {
        if (QXLayersItem::Ptr item = itemOf(treeItem); item && !m_building)
            m_collapsed.erase(item->identifier());
    });
    m_dispatch.RegisterHandler(QXM_LAYERS_CHANGED, this, &CQXLayersTreeCtrl::onLayersChanged);
    m_dispatch.RegisterHandler(QXM_ASSIGNMENT_CHANGED, this, &CQXLayersTreeCtrl::onLayersChanged);
    rebuild();
}

CQXLayersTreeCtrl::~CQXLayersTreeCtrl() {
    m_dispatch.UnregisterObject(this);
}

// ---- items ---------------------------------------------------------------------------

QXLayersItem::Ptr CQXLayersTreeCtrl::itemOf(QTreeWidgetItem* treeItem) const {
    auto it = m_items.find(treeItem);
    return it != m_items.end() ? it->second : QXLayersItem::Ptr();
}

QTreeWidgetItem* CQXLayersTreeCtrl::treeItemOf(const QXLayersItem::Ptr& item) const {
    auto it = m_treeItems.find(item.get());
    return it != m_treeItems.end() ? it->second : nullptr;
}

QXLayersItem::Ptr CQXLayersTreeCtrl::selectedItem() const {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    return selected.size() == 1 ? itemOf(selected.front()) : QXLayersItem::Ptr();
}

void CQXLayersTreeCtrl::rebuild() {
    m_building = true;
    QXLayersItem::Ptr selected;
    for (const QXLayersItem::Ptr& item : m_controller.selectedItems()) {
        selected = item;
        break;
    }
    const int scrolled = verticalScrollBar()->value();
    clear();
    m_items.clear();
    m_treeItems.clear();
    const QXItemList& top = m_controller.tree().topLevel();
    if (top.empty())
        addPlaceholder(nullptr, tr("(No layers)"));
    else
        addItems(nullptr, top, true);
    if (QTreeWidgetItem* treeItem = treeItemOf(selected))
        setCurrentItem(treeItem);
    verticalScrollBar()->setValue(scrolled);
    m_building = false;
}

void CQXLayersTreeCtrl::addItems(QTreeWidgetItem* parent, const QXItemList& list, bool parentOn) {
    for (const QXLayersItem::Ptr& item : list) {
        if (!item)
            continue;
        auto* treeItem = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
        treeItem->setText(0, shownName(*item));
        Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable;
        if (!QXLayersController::isFixedItem(*item))
            flags |= Qt::ItemIsEditable | Qt::ItemIsDragEnabled;
        if (item->isGroup())
            flags |= Qt::ItemIsDropEnabled;
        treeItem->setFlags(flags);
        m_items.emplace(treeItem, item);
        m_treeItems.emplace(item.get(), treeItem);
        applyState(treeItem, !item->isEnabled() ? kUnchecked
                             : parentOn         ? kChecked
                                                : kCheckedDisabled);
        if (!item->isGroup())
            continue;
        if (item->children().empty())
            addPlaceholder(treeItem, tr("(empty)"));
        else
            addItems(treeItem, item->children(), parentOn && item->isEnabled());
        treeItem->setExpanded(!m_collapsed.count(item->identifier()));
    }
}

QTreeWidgetItem* CQXLayersTreeCtrl::addPlaceholder(QTreeWidgetItem* parent, const QString& text) {
    auto* line = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
    line->setText(0, text);
    line->setFlags(Qt::NoItemFlags);
    line->setForeground(0, palette().brush(QPalette::Disabled, QPalette::Text));
    applyState(line, kUnused);
    return line;
}

void CQXLayersTreeCtrl::applyState(QTreeWidgetItem* treeItem, StateImage state) {
    treeItem->setIcon(0, m_stateImages[state]);
    treeItem->setData(0, kStateRole, int(state));
    if (state != kUnused)
        treeItem->setCheckState(0, state == kUnchecked ? Qt::Unchecked : Qt::Checked);
}

CQXLayersTreeCtrl::StateImage CQXLayersTreeCtrl::stateImageOf(QTreeWidgetItem* treeItem) const {
    return treeItem ? StateImage(treeItem->data(0, kStateRole).toInt()) : kUnused;
}

void CQXLayersTreeCtrl::refreshStates() {
    const bool wasBuilding = m_building;
    m_building = true;
    std::function<void(QTreeWidgetItem*, bool)> walk = [&](QTreeWidgetItem* treeItem,
                                                           bool parentOn) {
        const QXLayersItem::Ptr item = itemOf(treeItem);
        if (!item)
            return;
        applyState(treeItem, !item->isEnabled() ? kUnchecked
                             : parentOn         ? kChecked
                                                : kCheckedDisabled);
        for (int i = 0; i < treeItem->childCount(); ++i)
            walk(treeItem->child(i), parentOn && item->isEnabled());
    };
    for (int i = 0; i < topLevelItemCount(); ++i)
        walk(topLevelItem(i), true);
    m_building = wasBuilding;
}

// The four states as the style draws a check box, centred in 20 by 20 pixels, at the
// screen's pixel ratio and at twice the size for high-density screens.
void CQXLayersTreeCtrl::drawStateImages() {
    std::vector<qreal> ratios{1.0, 2.0};
    if (const qreal own = devicePixelRatioF(); own != 1.0 && own != 2.0)
        ratios.push_back(own);
    for (int state = kUnused; state <= kCheckedDisabled; ++state) {
        QIcon icon;
        for (qreal ratio : ratios) {
            QPixmap pixmap(QSize(kStateImageSize, kStateImageSize) * ratio);
            pixmap.setDevicePixelRatio(ratio);
            pixmap.fill(Qt::transparent);
            if (state != kUnused) {
                QPainter painter(&pixmap);
                QStyleOptionButton box;
                box.initFrom(this);
                const int w = style()->pixelMetric(QStyle::PM_IndicatorWidth, &box, this);
                const int h = style()->pixelMetric(QStyle::PM_IndicatorHeight, &box, this);
                box.rect = QRect((kStateImageSize - w) / 2, (kStateImageSize - h) / 2, w, h);
                box.state = QStyle::State_Enabled;
                box.state |= state == kUnchecked ? QStyle::State_Off : QStyle::State_On;
                if (state == kCheckedDisabled) {
                    box.state &= ~QStyle::State_Enabled;
                    box.palette.setCurrentColorGroup(QPalette::Disabled);
                }
                style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, &painter, this);
            }
            icon.addPixmap(pixmap);
        }
        m_stateImages[state] = icon;
    }
}

void CQXLayersTreeCtrl::changeEvent(QEvent* event) {
    QTreeWidget::changeEvent(event);
    if (event->type() == QEvent::StyleChange || event->type() == QEvent::PaletteChange) {
        drawStateImages();
        rebuild();
    }
}

// ---- the user's changes --------------------------------------------------------------

void CQXLayersTreeCtrl::toggle(QTreeWidgetItem* treeItem) {
    const QXLayersItem::Ptr item = itemOf(treeItem);
    if (!item)
        return;
    m_applying = true;
    m_controller.setItemEnabled(item, !item->isEnabled());
    m_applying = false;
    refreshStates();
}

void CQXLayersTreeCtrl::onItemChanged(QTreeWidgetItem* treeItem, int) {
    if (m_building)
        return;
    const QXLayersItem::Ptr item = itemOf(treeItem);
    if (!item)
        return;
    // The check state: changed through accessibility or setCheckState.
    if ((treeItem->checkState(0) == Qt::Checked) != item->isEnabled())
        return toggle(treeItem);
    const QString text = treeItem->text(0);
    if (text == shownName(*item))
        return;
    m_applying = true;
    const bool renamed = m_controller.renameItem(item, text.toStdU16String());
    m_applying = false;
    if (!renamed) {
        m_building = true;
        treeItem->setText(0, shownName(*item));
        m_building = false;
    }
}

void CQXLayersTreeCtrl::onSelectionChanged() {
    if (m_building)
        return;
    const QXLayersItem::Ptr item = selectedItem();
    m_controller.selectOnly(item);
    m_dispatch.Send(QXM_LAYER_SELECTED);
    emit selectionChangedByUser();
}

void CQXLayersTreeCtrl::onLayersChanged() {
    // Inside the tree's own edit the line being edited must outlive the edit: the
    // rebuild comes once it is over.
    if (!m_applying)
        return rebuild();
    if (m_rebuildQueued)
        return;
    m_rebuildQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_rebuildQueued = false;
            rebuild();
        },
        Qt::QueuedConnection);
}

void CQXLayersTreeCtrl::selectItem(const QXLayersItem::Ptr& item) {
    QTreeWidgetItem* treeItem = treeItemOf(item);
    if (!treeItem)
        return;
    setCurrentItem(treeItem);
    scrollToItem(treeItem);
}

QXLayersItem::Ptr CQXLayersTreeCtrl::newLayer() {
    QXLayersItem::Ptr layer = m_controller.newLayer(selectedItem());
    selectItem(layer);
    return layer;
}

QXLayersItem::Ptr CQXLayersTreeCtrl::newGroup() {
    QXLayersItem::Ptr group = m_controller.newGroup(selectedItem());
    selectItem(group);
    return group;
}

bool CQXLayersTreeCtrl::deleteSelected() {
    const QXLayersItem::Ptr item = selectedItem();
    QTreeWidgetItem* treeItem = treeItemOf(item);
    if (!treeItem)
        return false;
    // The line below takes its place, else the one above, else its group.
    QTreeWidgetItem* parent = treeItem->parent();
    const int at = parent ? parent->indexOfChild(treeItem) : indexOfTopLevelItem(treeItem);
    auto sibling = [&](int i) -> QTreeWidgetItem* {
        return parent ? parent->child(i) : topLevelItem(i);
    };
    QXLayersItem::Ptr neighbour = itemOf(sibling(at + 1));
    if (!neighbour && at > 0)
        neighbour = itemOf(sibling(at - 1));
    if (!neighbour)
        neighbour = itemOf(parent);
    if (!m_controller.removeItem(item))
        return false;
    if (QTreeWidgetItem* next = treeItemOf(neighbour)) {
        selectItem(neighbour);
        if (next->isSelected())
            return true;
    }
    onSelectionChanged(); // nothing left to select: no current layer
    return true;
}

void CQXLayersTreeCtrl::renameSelected() {
    QTreeWidgetItem* treeItem = treeItemOf(selectedItem());
    if (treeItem && (treeItem->flags() & Qt::ItemIsEditable))
        editItem(treeItem, 0);
}

void CQXLayersTreeCtrl::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_F2:
        renameSelected();
        return;
    case Qt::Key_Delete:
        deleteSelected();
        return;
    default:
        return QTreeWidget::keyPressEvent(event);
    }
}

void CQXLayersTreeCtrl::attachKeyboardView(CQXLayersView* view) {
    view->setLayerTree(this, [this](QTreeWidgetItem* treeItem) { return itemOf(treeItem); });
}

// ---- drag and drop of the tree's own items -------------------------------------------

QStringList CQXLayersTreeCtrl::mimeTypes() const {
    return {QString::fromLatin1(kMimeType)};
}

QMimeData* CQXLayersTreeCtrl::mimeData(const QList<QTreeWidgetItem*>& items) const {
    const QXLayersItem::Ptr item = items.size() == 1 ? itemOf(items.front()) : QXLayersItem::Ptr();
    if (!item || QXLayersController::isFixedItem(*item))
        return nullptr;
    auto* mime = new QMimeData;
    // Only this tree in this process takes it: the item is named by its address, which
    // is only ever compared with the tree's own items.
    mime->setData(QString::fromLatin1(kMimeType),
                  QByteArray::number(QCoreApplication::applicationPid()) + ' ' +
                      QByteArray::number(quintptr(this)) + ' ' +
                      QByteArray::number(quintptr(item.get())));
    return mime;
}

QXLayersItem::Ptr CQXLayersTreeCtrl::draggedItem(const QMimeData* mime) const {
    if (!mime)
        return {};
    const QList<QByteArray> parts = mime->data(QString::fromLatin1(kMimeType)).split(' ');
    if (parts.size() != 3 || parts[0].toLongLong() != QCoreApplication::applicationPid() ||
        parts[1].toULongLong() != quintptr(this))
        return {};
    auto it = m_treeItems.find(reinterpret_cast<const QXLayersItem*>(parts[2].toULongLong()));
    return it != m_treeItems.end() ? itemOf(it->second) : QXLayersItem::Ptr();
}

Qt::DropActions CQXLayersTreeCtrl::supportedDropActions() const {
    return Qt::MoveAction;
}

void CQXLayersTreeCtrl::startDrag(Qt::DropActions) {
    QTreeWidgetItem* treeItem = currentItem();
    QMimeData* mime = treeItem ? mimeData({treeItem}) : nullptr;
    if (!mime)
        return;
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->setPixmap(viewport()->grab(visualItemRect(treeItem)));
    // The drop moves the item in the model and builds the tree again; there is nothing
    // left for the drag to remove afterwards, whatever it answers.
    drag->exec(Qt::MoveAction);
    drag->deleteLater();
}

bool CQXLayersTreeCtrl::dropPlace(QPoint viewportPoint, QXLayersItem::Ptr& group,
                                  QXLayersItem::Ptr& after) const {
    QTreeWidgetItem* over = itemAt(viewportPoint);
    if (!over)
        return false;
    QTreeWidgetItem* parent = over->parent();
    group = itemOf(parent);
    after = {};
    // Items stay inside the top-level groups ("Layers", "Background"): a drop beside
    // one of those has no place.
    if (!group)
        return false;
    const QXLayersItem::Ptr target = itemOf(over);
    if (!target)
        return true; // "(empty)": into its group
    // The zones of the drop indicator Qt draws: a thin band at the top and at the bottom
    // of the line; between them into a group, else the nearer half decides.
    const QRect line = visualItemRect(over);
    const int margin = std::clamp(qRound(line.height() / 5.5), 2, 12);
    const int y = viewportPoint.y();
    const bool above = y - line.top() < margin, below = line.bottom() - y < margin;
    if (target->isGroup() && !above && !below) {
        group = target;
        return true;
    }
    if (below || (!above && y >= line.center().y())) {
        after = target;
        return true;
    }
    const int at = parent->indexOfChild(over);
    after = at > 0 ? itemOf(parent->child(at - 1)) : QXLayersItem::Ptr();
    return true;
}

void CQXLayersTreeCtrl::dragEnterEvent(QDragEnterEvent* event) {
    QTreeWidget::dragEnterEvent(event);
    event->setAccepted(bool(draggedItem(event->mimeData())));
}

void CQXLayersTreeCtrl::dragMoveEvent(QDragMoveEvent* event) {
    QTreeWidget::dragMoveEvent(event); // the drop indicator and scrolling
    const QXLayersItem::Ptr moving = draggedItem(event->mimeData());
    QXLayersItem::Ptr group, after;
    bool ok = moving && dropPlace(event->position().toPoint(), group, after);
    for (QTreeWidgetItem* up = treeItemOf(group); ok && up; up = up->parent())
        ok = itemOf(up) != moving; // not into itself or what it holds
    if (ok) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void CQXLayersTreeCtrl::dropEvent(QDropEvent* event) {
    stopAutoScroll();
    setState(NoState);
    viewport()->update();
    const QXLayersItem::Ptr moving = draggedItem(event->mimeData());
    QXLayersItem::Ptr group, after;
    if (!moving || !dropPlace(event->position().toPoint(), group, after)) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
    m_controller.moveItem(moving, group, after); // builds the tree again on 2035
}
