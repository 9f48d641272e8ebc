// The keyboard view's mouse, keys, menus and the edits they make.
#include "editor/CQXLayersView.h"
#include "editor/QXKeyAssignment.h"
#include "editor/QXKeyClipboard.h"
#include "model/QXKeyTable.h"
#include "model/QXLayoutPicture.h"
#include "platform/QXDispatch.h"
#include "platform/QXLog.h"
#include "platform/QXMessages.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QTreeWidget>

namespace {

// A move of at most this far (squared, in view pixels) from the press is still a click.
constexpr int kClickSlop2 = 9;

} // namespace

// ---- mouse ---------------------------------------------------------------------------

void CQXLayersView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton)
        return QWidget::mousePressEvent(event);
    const QPoint point = event->position().toPoint();
    const size_t key = hitTest(point);
    // A right press on a selected key keeps the selection, so the key menu acts on it.
    if (!(event->button() == Qt::RightButton && key != kNoKey && m_selected[key]))
        setSelection({});
    setFocus(Qt::MouseFocusReason);
    m_buttonDown = true;
    m_pressPoint = m_corner = point;
    m_pressKey = canEditCurrent() ? key : kNoKey;
}

void CQXLayersView::mouseMoveEvent(QMouseEvent* event) {
    if (!m_buttonDown)
        return;
    const QPoint point = event->position().toPoint();
    if (m_dragging) {
        trackDrag(point);
        trackTree(event->globalPosition().toPoint());
        return;
    }
    if (m_rubber) {
        const QRect before = rubberBand();
        m_corner = point;
        update(before.united(rubberBand()).adjusted(-1, -1, 1, 1));
        selectInside(QRectF(QPointF(rubberBand().topLeft()) / m_zoom,
                            QPointF(rubberBand().bottomRight()) / m_zoom));
        return;
    }
    const QPoint d = point - m_pressPoint;
    if (d.x() * d.x() + d.y() * d.y() <= kClickSlop2)
        return;
    if (m_pressKey == kNoKey) {
        m_rubber = true;
        m_corner = point;
        update(rubberBand().adjusted(-1, -1, 1, 1));
        updateAnimation();
    } else if (hasOwnAssignment(m_pressKey)) {
        m_dragButton = (event->buttons() & Qt::RightButton) ? Qt::RightButton : Qt::LeftButton;
        startDrag(m_pressKey);
        trackDrag(point);
    }
}

void CQXLayersView::mouseReleaseEvent(QMouseEvent* event) {
    if (!m_buttonDown)
        return QWidget::mouseReleaseEvent(event);
    m_buttonDown = false;
    const QPoint point = event->position().toPoint();
    if (m_rubber) {
        m_rubber = false;
        update(rubberBand().adjusted(-1, -1, 1, 1));
        updateAnimation();
        return;
    }
    if (m_dragging) {
        const Drop finished = m_drag;
        const bool layerChanged = currentLayer() != finished.sourceLayer;
        const bool paste = event->modifiers() & Qt::ControlModifier;
        endDrag();
        if (finished.targetKey == kNoKey ||
            (finished.targetKey == finished.sourceKey && !layerChanged))
            return;
        if (event->button() == Qt::RightButton) {
            m_pendingDrop = finished;
            m_dropMenu->popup(mapToGlobal(point));
        } else {
            drop(finished, paste);
        }
        return;
    }
    const size_t key = hitTest(point);
    if (event->button() == Qt::RightButton) {
        if (!canEditCurrent())
            return;
        if (key != kNoKey && !m_selected[key])
            selectAlone(key);
        openKeyMenu(point);
        return;
    }
    if (key == kNoKey)
        return;
    selectAlone(key);
    if (key == m_pressKey && !hasOwnAssignment(key))
        defineKeys();
}

// ---- drag ----------------------------------------------------------------------------

void CQXLayersView::startDrag(size_t keyIndex) {
    m_dragging = true;
    m_drag = {currentLayer(), keyIndex, kNoKey};
    const QXLayoutPicture::Square s = QXLayoutPicture::keySquare(keyIndex);
    m_dragImage = QPixmap::fromImage(keyboardPicture().copy(s.left, s.top, 48, 48));
    grabMouse();
    update(keyRect(keyIndex).adjusted(-2, -2, 2, 2));
    updateAnimation();
}

void CQXLayersView::trackDrag(QPoint point) {
    const QRect before = dragImageRect();
    const size_t oldTarget = m_drag.targetKey;
    m_dragPoint = point;
    m_drag.targetKey = rect().contains(point) ? hitTest(point) : kNoKey;
    setCursor(m_drag.targetKey != kNoKey ? Qt::ArrowCursor : Qt::ForbiddenCursor);
    update(before.united(dragImageRect()));
    for (size_t key : {oldTarget, m_drag.targetKey})
        if (key != kNoKey)
            update(keyRect(key).adjusted(-2, -2, 2, 2));
}

void CQXLayersView::trackTree(QPoint globalPoint) {
    if (!m_tree || !m_itemOf)
        return;
    const QPoint inTree = m_tree->viewport()->mapFromGlobal(globalPoint);
    if (!m_tree->viewport()->rect().contains(inTree))
        return;
    QTreeWidgetItem* treeItem = m_tree->itemAt(inTree);
    QXLayersItem::Ptr item = treeItem ? m_itemOf(treeItem) : nullptr;
    if (!item || item->isGroup() || item->hasFlag(QXLayersItem::kFixed)) {
        setCursor(Qt::ForbiddenCursor);
        return;
    }
    setCursor(Qt::ArrowCursor);
    // The tree makes the layer current when its selection moves; the view follows on 2034.
    if (item != currentLayer())
        m_tree->setCurrentItem(treeItem);
}

void CQXLayersView::setLayerTree(QTreeWidget* tree,
                                 std::function<QXLayersItem::Ptr(QTreeWidgetItem*)> itemOf) {
    m_tree = tree;
    m_itemOf = std::move(itemOf);
}

void CQXLayersView::endDrag() {
    m_dragging = false;
    releaseMouse();
    unsetCursor();
    update();
    updateAnimation();
}

void CQXLayersView::drop(Drop drop, bool paste) {
    m_pendingDrop = {};
    QXLayer::Ptr target = currentLayer();
    if (!drop.sourceLayer || !target || target->hasFlag(QXLayersItem::kFixed) ||
        drop.sourceKey == kNoKey || drop.targetKey == kNoKey) {
        QXLog::warning(QXLog::kModel, "a key dropped where it cannot go is left where it was");
        return;
    }
    if (paste) {
        QXKeyAssignment::copy(*drop.sourceLayer->getButton(drop.sourceKey))
            .putInto(*target, drop.targetKey);
    } else {
        QXKeyAssignment source = QXKeyAssignment::take(*drop.sourceLayer, drop.sourceKey);
        QXKeyAssignment replaced = QXKeyAssignment::take(*target, drop.targetKey);
        source.putInto(*target, drop.targetKey);
        replaced.putInto(*drop.sourceLayer, drop.sourceKey);
    }
    m_controller.rebuild();
    rebuildImages();
    m_dispatch.Send(QXM_ASSIGNMENT_CHANGED);
}

// ---- menus and commands --------------------------------------------------------------

void CQXLayersView::updateKeyMenu() {
    const bool editable = canEditCurrent();
    bool own = false, undefined = false;
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i)
        if (m_selected[i])
            (hasOwnAssignment(i) ? own : undefined) = true;
    m_keyActions[0]->setEnabled(editable && undefined);
    m_keyActions[1]->setEnabled(editable && own);
    m_keyActions[2]->setEnabled(m_selected.count() == 1);
    m_copyAction->setEnabled(own);
    const QMimeData* clipboard = QGuiApplication::clipboard()->mimeData();
    m_pasteAction->setEnabled(
        editable && clipboard &&
        clipboard->hasFormat(QString::fromLatin1(QXKeyClipboard::kMimeType)));
}

void CQXLayersView::openKeyMenu(QPoint viewPoint) {
    updateKeyMenu();
    m_keyMenu->popup(mapToGlobal(viewPoint));
}

void CQXLayersView::changed() {
    m_controller.rebuild();
    rebuildImages();
}

void CQXLayersView::defineKeys() {
    QXLayer::Ptr layer = currentLayer();
    if (!canEditCurrent())
        return;
    QXCompositeLayer stack = m_controller.pictureStack();
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i) {
        if (!m_selected[i] || hasOwnAssignment(i))
            continue;
        if (const QXButton* effective = stack.getButton(i))
            QXKeyAssignment::copy(*effective).putInto(*layer, i);
        else
            layer->setPicture(i, {}); // nothing shows there yet: a black picture of its own
    }
    changed();
    m_dispatch.Send(QXM_ASSIGNMENT_CHANGED);
    m_dispatch.Send(QXM_KEY_SELECTED);
}

void CQXLayersView::deleteKeys() {
    QXLayer::Ptr layer = currentLayer();
    if (!canEditCurrent())
        return;
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i)
        if (m_selected[i])
            layer->clearButton(i);
    changed();
    m_dispatch.Send(QXM_KEY_SELECTED);
    m_dispatch.Send(QXM_ASSIGNMENT_CHANGED);
}

void CQXLayersView::pushKey() {
    QXLayer::Ptr layer = currentLayer();
    const QXButton* button = layer ? layer->getButton(m_anchor) : nullptr;
    if (button && button->action)
        m_controller.pressKeyOnce(*layer, m_anchor);
}

// ---- keys ----------------------------------------------------------------------------

void CQXLayersView::keyPressEvent(QKeyEvent* event) {
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const size_t last = QXKeyTable::keyCount() - 1;
    if (event->matches(QKeySequence::Copy)) {
        copyKeys();
        return;
    }
    if (event->matches(QKeySequence::Paste)) {
        pasteKeys();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right: {
        const bool left = event->key() == Qt::Key_Left;
        const size_t from = shift ? m_focus : m_anchor;
        const size_t to = left ? (from == 0 ? 0 : from - 1) : std::min(from + 1, last);
        if (shift)
            extendTo(to);
        else
            selectAlone(to);
        break;
    }
    case Qt::Key_Up:
    case Qt::Key_Down: {
        const size_t to =
            verticalNeighbour(shift ? m_focus : m_anchor, event->key() == Qt::Key_Up ? -1 : 1);
        if (to == kNoKey)
            break;
        if (shift)
            extendTo(to);
        else
            selectAlone(to);
        break;
    }
    case Qt::Key_A:
        if (!(event->modifiers() & Qt::ControlModifier))
            return QWidget::keyPressEvent(event);
        m_anchor = 0;
        m_focus = last;
        setSelection(std::bitset<113>().set());
        break;
    case Qt::Key_Delete:
        if (canEditCurrent())
            deleteKeys();
        break;
    case Qt::Key_Menu: {
        const QRect at = m_selected[m_anchor] ? keyRect(m_anchor) : QRect(rect().center(), QSize());
        openKeyMenu(at.center());
        break;
    }
    default:
        return QWidget::keyPressEvent(event);
    }
}
