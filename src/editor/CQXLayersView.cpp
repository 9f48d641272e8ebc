#include "editor/CQXLayersView.h"

#include "model/QXKeyTable.h"
#include "model/QXLayoutPicture.h"
#include "platform/QXDispatch.h"
#include "platform/QXLog.h"
#include "platform/QXMessages.h"

#include <QAction>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <cmath>
#include <limits>

namespace {

constexpr int kKeySize = 48;
constexpr int kAnimationMs = 40;

// The key geometry counts from the keyboard's own origin; the picture places the same
// square 4 pixels right and 19 up.
constexpr int kPictureDx = 4;
constexpr int kPictureDy = -19;

// FreeImage keeps rows bottom-up in blue-green-red order.
QImage fromBottomUpBgr(const unsigned char* bits, int width, int height, int pitch) {
    QImage out(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        const unsigned char* line = bits + static_cast<ptrdiff_t>(height - 1 - y) * pitch;
        auto* target = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < width; ++x)
            target[x] = qRgb(line[3 * x + 2], line[3 * x + 1], line[3 * x]);
    }
    return out;
}

QImage fromFip(fipImage picture) {
    if (!picture.isValid() || !QXImage::to24Bits(picture))
        return {};
    return fromBottomUpBgr(picture.accessPixels(), static_cast<int>(picture.getWidth()),
                           static_cast<int>(picture.getHeight()),
                           static_cast<int>(picture.getScanWidth()));
}

QColor frameColour(bool own, bool focused) {
    if (own)
        return focused ? QColor(255, 192, 192) : QColor(255, 255, 255);
    return focused ? QColor(255, 192, 0) : QColor(128, 128, 128);
}

} // namespace

CQXLayersView::CQXLayersView(QXLayersController& controller, QXDispatch& dispatch, QWidget* parent)
    : QWidget(parent), m_controller(controller), m_dispatch(dispatch) {
    setObjectName(QStringLiteral("CQXLayersView"));
    setAccessibleName(tr("Keyboard"));
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(false);
    setAttribute(Qt::WA_OpaquePaintEvent);

    fipImage picture;
    if (QXLayoutPicture::loadTemplate(picture))
        m_template = fromFip(picture);
    if (m_template.isNull()) {
        QXLog::warning(QXLog::kModel,
                       "the keyboard picture cannot be read; keys are drawn on grey");
        m_template =
            QImage(QXLayoutPicture::kWidth, QXLayoutPicture::kHeight, QImage::Format_RGB32);
        m_template.fill(QColor(64, 64, 64));
    }

    m_keyMenu = new QMenu(this);
    m_keyMenu->setObjectName(QStringLiteral("KeyMenu"));
    const std::array<std::pair<Command, QString>, 3> keyItems{
        {{kDefine, tr("Define")}, {kDelete, tr("Delete")}, {kPush, tr("Push")}}};
    for (size_t i = 0; i < keyItems.size(); ++i) {
        if (i > 0)
            m_keyMenu->addSeparator();
        QAction* action = m_keyMenu->addAction(keyItems[i].second);
        action->setObjectName(QString::number(keyItems[i].first));
        m_keyActions[i] = action;
    }
    connect(m_keyActions[0], &QAction::triggered, this, &CQXLayersView::defineKeys);
    connect(m_keyActions[1], &QAction::triggered, this, &CQXLayersView::deleteKeys);
    connect(m_keyActions[2], &QAction::triggered, this, &CQXLayersView::pushKey);
    m_keyMenu->addSeparator();
    m_copyAction = m_keyMenu->addAction(tr("Copy"), this, &CQXLayersView::copyKeys);
    m_copyAction->setObjectName(QStringLiteral("copy"));
    m_copyAction->setShortcut(QKeySequence::Copy); // shown in the menu; the view reacts itself
    m_copyAction->setShortcutContext(Qt::WidgetShortcut);
    m_pasteAction = m_keyMenu->addAction(tr("Paste"), this, &CQXLayersView::pasteKeys);
    m_pasteAction->setObjectName(QStringLiteral("paste"));
    m_pasteAction->setShortcut(QKeySequence::Paste);
    m_pasteAction->setShortcutContext(Qt::WidgetShortcut);

    m_dropMenu = new QMenu(this);
    m_dropMenu->setObjectName(QStringLiteral("DropMenu"));
    QAction* swap = m_dropMenu->addAction(tr("Swap"));
    swap->setObjectName(QString::number(kSwap));
    QAction* paste = m_dropMenu->addAction(tr("Paste"));
    paste->setObjectName(QString::number(kPaste));
    m_dropMenu->addSeparator();
    m_dropMenu->addAction(tr("Partial..."))->setEnabled(false);
    m_dropMenu->addSeparator();
    QAction* cancel = m_dropMenu->addAction(tr("Cancel"));
    cancel->setObjectName(QString::number(kCancel));
    connect(swap, &QAction::triggered, this, [this] { drop(m_pendingDrop, false); });
    connect(paste, &QAction::triggered, this, [this] { drop(m_pendingDrop, true); });
    connect(cancel, &QAction::triggered, this, [this] { m_pendingDrop = {}; });

    m_animation.setInterval(kAnimationMs);
    m_animation.setTimerType(Qt::PreciseTimer);
    connect(&m_animation, &QTimer::timeout, this, &CQXLayersView::tick);

    m_dispatch.RegisterHandler(QXM_LAYER_SELECTED, this, &CQXLayersView::rebuildImages);
    m_dispatch.RegisterHandler(QXM_LAYERS_CHANGED, this, &CQXLayersView::rebuildImages);
    m_dispatch.RegisterHandler(QXM_LAYER_STATE_CHANGED, this, &CQXLayersView::rebuildImages);
    m_dispatch.RegisterHandler(QXM_VIEW_IMAGE_CHANGED, this, &CQXLayersView::onViewImageChanged);
    m_dispatch.RegisterHandler(QXM_KEY_EDITED, this, &CQXLayersView::rebuildImages);
    m_dispatch.RegisterHandler(QXM_DEVICE_KEY, this, &CQXLayersView::onDeviceKey);

    rebuildImages();
    resize(static_cast<int>(QXLayoutPicture::kWidth), static_cast<int>(QXLayoutPicture::kHeight));
}

CQXLayersView::~CQXLayersView() {
    m_dispatch.UnregisterObject(this);
}

// ---- model ---------------------------------------------------------------------------

QXLayer::Ptr CQXLayersView::currentLayer() const {
    for (const QXLayersItem::Ptr& item : m_controller.selectedItems())
        if (auto layer = item.dynamicCast<QXLayer>())
            return layer;
    return {};
}

bool CQXLayersView::canEditCurrent() const {
    QXLayer::Ptr layer = currentLayer();
    return layer && !layer->hasFlag(QXLayersItem::kFixed);
}

bool CQXLayersView::hasOwnAssignment(size_t keyIndex) const {
    QXLayer::Ptr layer = currentLayer();
    const QXButton* button = layer ? layer->getButton(keyIndex) : nullptr;
    return button && button->isAssigned();
}

// ---- images --------------------------------------------------------------------------

QImage CQXLayersView::keyImage(QXCompositeLayer& stack, size_t keyIndex) {
    const QXButton* button = stack.getButton(keyIndex);
    if (!button) {
        // Nothing assigned: the key as the keyboard picture draws it.
        const QXLayoutPicture::Square s = QXLayoutPicture::keySquare(keyIndex);
        return m_template.copy(s.left, s.top, kKeySize, kKeySize);
    }
    if (button->image) {
        if (button->image->isLoaded())
            return fromFip(*button->image).scaled(kKeySize, kKeySize);
        QXImage decoded;
        if (decoded.loadFile(button->image->sourcePath()))
            return fromFip(decoded).scaled(kKeySize, kKeySize);
    } else if (button->view) {
        std::array<unsigned char, QXKeyViewInstance::kImageBytes> bits{};
        if (button->view->copyImage(bits))
            return fromBottomUpBgr(bits.data(), kKeySize, kKeySize, kKeySize * 3);
    }
    // A placeholder: the key's caption on dark grey.
    QImage placeholder(kKeySize, kKeySize, QImage::Format_RGB32);
    placeholder.fill(QColor(48, 48, 48));
    QPainter painter(&placeholder);
    painter.setPen(QColor(200, 200, 200));
    const std::u16string_view label = QXKeyTable::key(keyIndex).label;
    painter.drawText(placeholder.rect(), Qt::AlignCenter | Qt::TextWordWrap,
                     QString::fromUtf16(label.data(), static_cast<qsizetype>(label.size())));
    return placeholder;
}

void CQXLayersView::paintKey(size_t keyIndex) {
    QXCompositeLayer stack = m_controller.pictureStack();
    const QXLayoutPicture::Square s = QXLayoutPicture::keySquare(keyIndex);
    QPainter painter(&m_picture);
    painter.drawImage(s.left, s.top, keyImage(stack, keyIndex));
}

void CQXLayersView::rebuildImages() {
    m_picture = m_template.copy();
    QXCompositeLayer stack = m_controller.pictureStack();
    QPainter painter(&m_picture);
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i) {
        const QXLayoutPicture::Square s = QXLayoutPicture::keySquare(i);
        painter.drawImage(s.left, s.top, keyImage(stack, i));
    }
    painter.end();
    rescale();
    update();
}

void CQXLayersView::onViewImageChanged(qxwin::WPARAM, qxwin::LPARAM keyIndex) {
    if (keyIndex < 0 || static_cast<size_t>(keyIndex) >= QXKeyTable::keyCount())
        return;
    const auto key = static_cast<size_t>(keyIndex);
    paintKey(key);
    rescale();
    update(keyRect(key));
}

void CQXLayersView::onDeviceKey(qxwin::WPARAM keyIndex, qxwin::LPARAM state) {
    if (keyIndex >= QXKeyTable::keyCount())
        return;
    m_pressed[keyIndex] = state != 0;
    update(keyRect(keyIndex).adjusted(-2, -2, 2, 2));
    updateAnimation();
}

void CQXLayersView::rescale() {
    // Built in the screen's own pixels, so a screen of twice the density shows every
    // pixel of a key picture as a sharp 2 x 2 square instead of a blurred one.
    const qreal ratio = devicePixelRatioF();
    const double scale = m_zoom * ratio;
    const QSize size(static_cast<int>(std::lround(m_picture.width() * scale)),
                     static_cast<int>(std::lround(m_picture.height() * scale)));
    const bool whole = std::abs(scale - std::round(scale)) < 1e-9;
    m_scaled = QPixmap::fromImage(
        size == m_picture.size()
            ? m_picture
            : m_picture.scaled(size, Qt::IgnoreAspectRatio,
                               whole ? Qt::FastTransformation : Qt::SmoothTransformation));
    m_scaled.setDevicePixelRatio(ratio);
}

// ---- geometry ------------------------------------------------------------------------

QRect CQXLayersView::pictureFrame(size_t keyIndex) const {
    const QXKeyFrame f = QXKeyTable::keyFrame(keyIndex);
    return QRect(QPoint(f.left + kPictureDx, f.top + kPictureDy),
                 QPoint(f.right - 1 + kPictureDx, f.bottom - 1 + kPictureDy));
}

QRect CQXLayersView::keyRect(size_t keyIndex) const {
    const QRect f = pictureFrame(keyIndex);
    const auto z = [this](int v) { return static_cast<int>(std::lround(v * m_zoom)); };
    return QRect(QPoint(z(f.left()), z(f.top())),
                 QPoint(z(f.right() + 1) - 1, z(f.bottom() + 1) - 1));
}

size_t CQXLayersView::hitTest(QPoint point) const {
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i)
        if (keyRect(i).contains(point))
            return i;
    return kNoKey;
}

QRect CQXLayersView::rubberBand() const {
    return QRect(m_pressPoint, m_corner).normalized();
}

QRect CQXLayersView::dragImageRect() const {
    return QRect(m_dragPoint - QPoint(kKeySize / 2, kKeySize / 2), QSize(kKeySize, kKeySize));
}

void CQXLayersView::resizeEvent(QResizeEvent*) {
    m_zoom = std::min(width() / double(QXLayoutPicture::kWidth),
                      height() / double(QXLayoutPicture::kHeight));
    const QSize zoomed(static_cast<int>(std::lround(QXLayoutPicture::kWidth * m_zoom)),
                       static_cast<int>(std::lround(QXLayoutPicture::kHeight * m_zoom)));
    // A window is never larger than its picture; inside a layout the rest stays empty.
    if (isWindow() && (width() > zoomed.width() || height() > zoomed.height()) && !zoomed.isEmpty())
        resize(zoomed);
    rescale();
}

// ---- painting ------------------------------------------------------------------------

void CQXLayersView::paintEvent(QPaintEvent* event) {
    ++m_paintCount;
    // The window may have moved to a screen of another density.
    if (!qFuzzyCompare(m_scaled.devicePixelRatio(), devicePixelRatioF()))
        rescale();
    QPainter painter(this);
    const QRect dirty = event->rect();
    painter.fillRect(dirty, palette().window());
    const qreal ratio = m_scaled.devicePixelRatio();
    const QRect area = dirty & QRect(QPoint(), (QSizeF(m_scaled.size()) / ratio).toSize());
    if (!area.isEmpty())
        painter.drawPixmap(QRectF(area), m_scaled,
                           QRectF(area.x() * ratio, area.y() * ratio, area.width() * ratio,
                                  area.height() * ratio));

    const auto frame = [&painter](const QRect& r, const QColor& colour) {
        painter.setPen(QPen(colour, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(r.adjusted(1, 1, -1, -1));
    };
    const bool focused = hasFocus();
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i)
        if (m_selected[i])
            frame(keyRect(i), frameColour(hasOwnAssignment(i), focused));
    if (m_dragging) {
        frame(keyRect(m_drag.sourceKey), QColor(255, 192, 255));
        if (m_drag.targetKey != kNoKey)
            frame(keyRect(m_drag.targetKey), QColor(192, 255, 255));
        if (rect().contains(m_dragPoint)) {
            painter.setOpacity(0.7);
            painter.drawPixmap(dragImageRect().topLeft(), m_dragImage);
            painter.setOpacity(1.0);
        }
    }
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i)
        if (m_pressed[i])
            frame(keyRect(i), QColor(255, 43, 42));
    if (m_rubber) {
        painter.setOpacity(178.0 / 255.0);
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_phase ? QColor(255, 255, 255) : QColor(192, 192, 192));
        painter.drawRoundedRect(rubberBand(), 5, 5);
    }
}

void CQXLayersView::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    if (m_selected.any())
        update();
}

void CQXLayersView::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    if (m_selected.any())
        update();
}

void CQXLayersView::updateAnimation() {
    const bool wanted = m_rubber || m_dragging || m_pressed.any();
    if (wanted && !m_animation.isActive())
        m_animation.start();
    else if (!wanted && m_animation.isActive())
        m_animation.stop();
}

void CQXLayersView::tick() {
    // Only the rectangle's fill changes from one tick to the next.
    m_phase = !m_phase;
    if (m_rubber)
        update(rubberBand().adjusted(-1, -1, 1, 1));
}

// ---- selection -----------------------------------------------------------------------

void CQXLayersView::setSelection(const std::bitset<113>& keys) {
    if (keys == m_selected)
        return;
    m_selected = keys;
    update();
    m_dispatch.Send(QXM_KEY_SELECTED);
}

void CQXLayersView::selectKeys(const std::vector<size_t>& keys) {
    std::bitset<113> selection;
    for (size_t key : keys)
        if (key < QXKeyTable::keyCount())
            selection.set(key);
    if (!keys.empty() && keys.front() < QXKeyTable::keyCount())
        m_anchor = m_focus = keys.front();
    setSelection(selection);
}

void CQXLayersView::selectAlone(size_t keyIndex) {
    selectKeys({keyIndex});
}

void CQXLayersView::selectInside(const QRectF& area) {
    std::bitset<113> selection;
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i) {
        const QRect f = pictureFrame(i);
        if (f.left() > area.left() && f.right() + 1 < area.right() && f.top() > area.top() &&
            f.bottom() + 1 < area.bottom())
            selection.set(i);
    }
    setSelection(selection);
}

void CQXLayersView::extendTo(size_t keyIndex) {
    m_focus = keyIndex;
    const QXKeyGeometry& a = QXKeyTable::geometry(m_anchor);
    const QXKeyGeometry& f = QXKeyTable::geometry(m_focus);
    const int left = std::min(a.x, f.x) - 3, top = std::min(a.y, f.y) - 3;
    const int right = std::max(a.x, f.x) + kKeySize + 3, bottom = std::max(a.y, f.y) + kKeySize + 3;
    selectInside(QRectF(QPointF(left + kPictureDx, top + kPictureDy),
                        QPointF(right + kPictureDx, bottom + kPictureDy)));
}

size_t CQXLayersView::verticalNeighbour(size_t start, int direction) const {
    const int row = QXKeyTable::keyRow(start);
    const int x = QXKeyTable::geometry(start).x;
    size_t best = kNoKey;
    int bestDistance = std::numeric_limits<int>::max();
    for (int i = static_cast<int>(start) + 7 * direction;
         i >= 0 && i < static_cast<int>(QXKeyTable::keyCount()) &&
         std::abs(QXKeyTable::keyRow(static_cast<size_t>(i)) - row) <= 1;
         i += direction) {
        const int distance = std::abs(QXKeyTable::geometry(static_cast<size_t>(i)).x - x);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = static_cast<size_t>(i);
        }
    }
    return bestDistance < 192 ? best : kNoKey;
}
