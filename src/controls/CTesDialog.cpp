// The dialog's layout, aspect ratio, tracking sizes, background and size grip.
//
// Qt tells a widget only that it was resized, not which edge the user drags, so the
// dialog compares each new geometry with the last one to find the edge, and corrects the
// geometry to the aspect ratio right away.

#include "controls/CTesDialog.h"

#include "controls/CTesSizeGrip.h"

#include <QLoggingCategory>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QWindow>
#include <algorithm>

Q_LOGGING_CATEGORY(lcControls, "qx.controls")

CTesDialog::CTesDialog(unsigned int templateId, QWidget* parent, int withGrip)
    : QDialog(parent), showGrip(withGrip), m_templateId(templateId) {
    // The background is painted by OnEraseBkgnd, which leaves out some controls.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
}

CTesDialog::~CTesDialog() = default;

void CTesDialog::AddControl(QWidget* control, unsigned char flags, int erase, QRect rect) {
    if (!control) {
        return;
    }
    AddControl(TES_DLG_CONTROL{control, flags, rect, erase});
}

void CTesDialog::AddControl(TES_DLG_CONTROL control) {
    if (!control.hWnd) {
        return;
    }
    if (!isAncestorOf(control.hWnd)) {
        // Its place could not be given in the dialog's coordinates.
        qCWarning(lcControls).noquote()
            << QStringLiteral("%1 \"%2\": a %3 \"%4\" outside the dialog is not laid out")
                   .arg(QString::fromLatin1(metaObject()->className()), objectName(),
                        QString::fromLatin1(control.hWnd->metaObject()->className()),
                        control.hWnd->objectName());
        return;
    }
    if (control.rect.width() == 0) {
        QWidget* parent = control.hWnd->parentWidget();
        const QPoint topLeft = parent && parent != this ? parent->mapTo(this, control.hWnd->pos())
                                                        : control.hWnd->pos();
        control.rect = QRect(topLeft, control.hWnd->size());
    }
    controls.push_back(control);
}

void CTesDialog::SetRatioRect(const QPoint* newRatio) {
    if (newRatio && newRatio->x() > 0 && newRatio->y() > 0) {
        ratio = *newRatio;
    }
}

void CTesDialog::OnInit() {}

int CTesDialog::OnInitDialog() {
    if (showGrip && !sizeGrip) {
        sizeGrip = new CTesSizeGrip(this);
    }
    OnInit();
    rcClient = rect();
    rcInitialClient = rect();
    rcInitialWindow = geometry();
    if (sizeGrip) {
        placeGrip();
        sizeGrip->show();
    }
    controls.clear();
    if (sizeGrip) {
        AddControl(sizeGrip, TES_MOVE_RIGHT | TES_MOVE_DOWN, 1, sizeGrip->geometry());
    }
    return 1;
}

void CTesDialog::placeGrip() {
    sizeGrip->move(width() - kGripSize, height() - kGripSize);
}

void CTesDialog::OnGetMinMaxInfo(TES_MINMAXINFO* info) {
    if (rcInitialWindow.width() > 0) {
        info->minTrackSize = rcInitialWindow.size();
    }
    if (rcMax.width() > 0) {
        info->maxTrackSize = rcMax.size();
    }
}

void CTesDialog::OnSize(unsigned int, int cx, int cy) {
    const int dx = cx - rcInitialClient.width();
    const int dy = cy - rcInitialClient.height();
    auto place = [&](const TES_DLG_CONTROL& record) {
        QWidget* control = record.hWnd;
        if (!control) {
            return;
        }
        QPoint topLeft(record.rect.left() + ((record.flags & TES_MOVE_RIGHT) ? dx : 0),
                       record.rect.top() + ((record.flags & TES_MOVE_DOWN) ? dy : 0));
        const int w =
            (record.flags & TES_FOLLOW_WIDTH) ? record.rect.width() + dx : control->width();
        const int h =
            (record.flags & TES_FOLLOW_HEIGHT) ? record.rect.height() + dy : control->height();
        QWidget* parent = control->parentWidget();
        if (parent && parent != this) {
            topLeft = parent->mapFrom(this, topLeft);
        }
        control->setGeometry(topLeft.x(), topLeft.y(), std::max(0, w), std::max(0, h));
    };
    // Growing, the first controls move first; shrinking, the last ones: controls added
    // left to right then never pass over each other on the way.
    if (cx > rcClient.width()) {
        std::for_each(controls.begin(), controls.end(), place);
    } else {
        std::for_each(controls.rbegin(), controls.rend(), place);
    }
    rcClient = QRect(0, 0, cx, cy);
}

void CTesDialog::OnSizing(unsigned int edge, QRect* rect) {
    if (!rect || ratio.x() <= 0 || ratio.y() <= 0 || edge < WMSZ_LEFT || edge > WMSZ_BOTTOMRIGHT) {
        return;
    }
    const int rx = ratio.x();
    const int ry = ratio.y();
    const int w0 = rcInitialWindow.width();
    const int h0 = rcInitialWindow.height();
    int left = rect->left();
    int top = rect->top();
    int right = left + rect->width();
    int bottom = top + rect->height();
    const int h = ((right - left - w0 + rx) * ry) / rx - ry;
    const int w = ((bottom - top - h0 + ry) * rx) / ry - rx;
    switch (edge) {
    case WMSZ_LEFT:
    case WMSZ_RIGHT:
        bottom = top + h0 + h;
        break;
    case WMSZ_TOP:
    case WMSZ_BOTTOM:
        right = left + w0 + w;
        break;
    case WMSZ_TOPLEFT:
        left = std::min(left, right - w0 - w);
        top = std::min(top, bottom - h0 - h);
        break;
    case WMSZ_TOPRIGHT:
        right = std::max(right, left + w0 + w);
        top = std::min(top, bottom - h0 - h);
        break;
    case WMSZ_BOTTOMLEFT:
        left = std::min(left, right - w0 - w);
        bottom = std::max(bottom, top + h0 + h);
        break;
    default: // WMSZ_BOTTOMRIGHT
        right = std::max(right, left + w0 + w);
        bottom = std::max(bottom, top + h0 + h);
        break;
    }
    *rect = QRect(left, top, right - left, bottom - top);
}

unsigned int CTesDialog::sizingEdge(const QRect& now) const {
    const QRect& was = m_lastGeometry;
    const bool leftMoved = now.left() != was.left();
    const bool topMoved = now.top() != was.top();
    const bool widthChanged = now.width() != was.width();
    const bool heightChanged = now.height() != was.height();
    const bool horizontal = widthChanged;
    const bool vertical = heightChanged;
    if (horizontal && vertical) {
        if (leftMoved) {
            return topMoved ? WMSZ_TOPLEFT : WMSZ_BOTTOMLEFT;
        }
        return topMoved ? WMSZ_TOPRIGHT : WMSZ_BOTTOMRIGHT;
    }
    if (horizontal) {
        return leftMoved ? WMSZ_LEFT : WMSZ_RIGHT;
    }
    if (vertical) {
        return topMoved ? WMSZ_TOP : WMSZ_BOTTOM;
    }
    return 0;
}

int CTesDialog::OnEraseBkgnd(QPainter* dc) {
    QRegion area(rect());
    for (const TES_DLG_CONTROL& record : controls) {
        if (record.hWnd && record.erase == 0 && record.hWnd->isVisible()) {
            area -= QRect(record.hWnd->mapTo(this, QPoint(0, 0)), record.hWnd->size());
        }
    }
    dc->save();
    dc->setClipRegion(area, Qt::IntersectClip);
    dc->fillRect(rect(), palette().brush(backgroundRole()));
    dc->restore();
    return 1;
}

QRect CTesDialog::gripSquare() const {
    return QRect(width() - kGripSize, height() - kGripSize, kGripSize, kGripSize);
}

void CTesDialog::OnLButtonDown(unsigned int, QPoint point) {
    if (!gripSquare().contains(point) || isMaximized()) {
        return;
    }
    // The window manager runs the resize where it can; elsewhere the dialog follows the
    // pointer itself until the button goes up.
    if (isWindow() && windowHandle() &&
        windowHandle()->startSystemResize(Qt::BottomEdge | Qt::RightEdge)) {
        return;
    }
    m_dragging = true;
    m_dragStart = mapToGlobal(point);
    m_dragStartSize = size();
}

void CTesDialog::OnLButtonUp(unsigned int, QPoint) {
    m_dragging = false;
}

void CTesDialog::OnMouseMove(unsigned int, QPoint point) {
    if (m_dragging) {
        const QPoint moved = mapToGlobal(point) - m_dragStart;
        resize(m_dragStartSize + QSize(moved.x(), moved.y()));
        return;
    }
    if (isMaximized()) {
        return;
    }
    if (showGrip && gripSquare().contains(point)) {
        setCursor(Qt::SizeFDiagCursor);
        sizingCursor = true;
    } else if (sizingCursor && keepCursor == 0) {
        unsetCursor();
        sizingCursor = false;
    }
}

void CTesDialog::showEvent(QShowEvent* event) {
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
        TES_MINMAXINFO info;
        OnGetMinMaxInfo(&info);
        if (info.minTrackSize.isValid()) {
            setMinimumSize(info.minTrackSize);
        }
        if (info.maxTrackSize.isValid()) {
            setMaximumSize(info.maxTrackSize);
        }
        m_lastGeometry = geometry();
    }
    QDialog::showEvent(event);
}

void CTesDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (!m_initialised) {
        return;
    }
    if (!m_correcting) {
        QRect corrected = geometry();
        OnSizing(sizingEdge(corrected), &corrected);
        m_lastGeometry = geometry();
        if (corrected != geometry()) {
            m_correcting = true;
            setGeometry(corrected); // its own resize event lays the controls out
            m_correcting = false;
            m_lastGeometry = geometry();
            return;
        }
    }
    OnSize(0, width(), height());
}

void CTesDialog::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    // A plain move is no edge; a move that comes with a resize is left for resizeEvent.
    if (m_initialised && size() == m_lastGeometry.size()) {
        m_lastGeometry = geometry();
    }
}

void CTesDialog::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.setClipRegion(event->region());
    OnEraseBkgnd(&painter);
}

void CTesDialog::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        OnLButtonDown(event->buttons(), event->position().toPoint());
    }
    QDialog::mousePressEvent(event);
}

void CTesDialog::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        OnLButtonUp(event->buttons(), event->position().toPoint());
    }
    QDialog::mouseReleaseEvent(event);
}

void CTesDialog::mouseMoveEvent(QMouseEvent* event) {
    OnMouseMove(event->buttons(), event->position().toPoint());
    QDialog::mouseMoveEvent(event);
}
