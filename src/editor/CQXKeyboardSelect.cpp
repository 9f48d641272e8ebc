#include "editor/CQXKeyboardSelect.h"

#include "editor/QXKeyPropsContext.h"
#include "model/QXKeyTable.h"
#include "model/QXLayoutPicture.h"
#include "platform/QXLog.h"

#include <QMouseEvent>
#include <QPainter>

namespace {

// The key frames count from the keyboard's own origin; the picture places them 4
// pixels right and 19 up, as it does the key squares.
constexpr int kPictureDx = 4;
constexpr int kPictureDy = -19;

QRect pictureFrame(size_t key) {
    const QXKeyFrame f = QXKeyTable::keyFrame(key);
    return QRect(QPoint(f.left + kPictureDx, f.top + kPictureDy),
                 QPoint(f.right - 1 + kPictureDx, f.bottom - 1 + kPictureDy));
}

} // namespace

CQXKeyboardSelect::CQXKeyboardSelect(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("CQXKeyboardSelect"));
    setAccessibleName(tr("Keyboard"));
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    fipImage picture;
    if (QXLayoutPicture::loadTemplate(picture))
        m_picture = qxToQImage(picture);
    if (m_picture.isNull()) {
        QXLog::warning(QXLog::kEditor,
                       "the keyboard picture cannot be read; keys are drawn on grey");
        m_picture = QImage(pictureSize(), QImage::Format_RGB32);
        m_picture.fill(QColor(64, 64, 64));
    }
}

QSize CQXKeyboardSelect::pictureSize() {
    return QSize(QXLayoutPicture::kWidth, QXLayoutPicture::kHeight);
}

void CQXKeyboardSelect::setCurrentKey(size_t key) {
    m_current = key < QXKeyTable::keyCount() ? key : kNoKey;
    update();
}

QRectF CQXKeyboardSelect::scaled(const QRectF& r) const {
    const double sx = double(width()) / QXLayoutPicture::kWidth;
    const double sy = double(height()) / QXLayoutPicture::kHeight;
    return QRectF(r.left() * sx, r.top() * sy, r.width() * sx, r.height() * sy);
}

QRect CQXKeyboardSelect::keyRect(size_t key) const {
    const QXLayoutPicture::Square s = QXLayoutPicture::keySquare(key);
    return scaled(QRectF(s.left, s.top, 48, 48)).toAlignedRect();
}

size_t CQXKeyboardSelect::hitTest(QPoint point) const {
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i) {
        const QRect f = pictureFrame(i);
        if (scaled(QRectF(f.left(), f.top(), f.width(), f.height())).contains(point))
            return i;
    }
    return kNoKey;
}

void CQXKeyboardSelect::drawFrame(QPainter& painter, size_t key, const QColor& colour) const {
    if (key >= QXKeyTable::keyCount())
        return;
    const QXLayoutPicture::Square s = QXLayoutPicture::keySquare(key);
    QRectF frame = scaled(QRectF(s.left - 2, s.top - 2, 52, 52));
    painter.setPen(QPen(colour, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(frame.adjusted(1, 1, -1, -1)); // the pen's two pixels stay inside
}

void CQXKeyboardSelect::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), m_picture);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font = painter.font();
    font.setPixelSize(std::max(7, static_cast<int>(13.0 * height() / QXLayoutPicture::kHeight)));
    painter.setFont(font);
    painter.setPen(QColor(230, 230, 230));
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i)
        painter.drawText(keyRect(i), Qt::AlignCenter,
                         QString::fromStdU16String(std::u16string(QXKeyTable::key(i).label)));
    painter.setRenderHint(QPainter::Antialiasing, false);
    drawFrame(painter, m_hover, QColor(255, 192, 192));
    drawFrame(painter, m_current, QColor(255, 192, 0));
}

void CQXKeyboardSelect::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    if (hitTest(event->position().toPoint()) == kNoKey) {
        m_dragging = true;
        m_dragOffset = event->globalPosition().toPoint() - window()->pos();
    }
}

void CQXKeyboardSelect::mouseMoveEvent(QMouseEvent* event) {
    if (m_dragging) {
        window()->move(event->globalPosition().toPoint() - m_dragOffset);
        return;
    }
    const size_t hover = hitTest(event->position().toPoint());
    if (hover != m_hover) {
        m_hover = hover;
        update();
    }
}

void CQXKeyboardSelect::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    if (m_dragging) {
        m_dragging = false;
        return;
    }
    const size_t key = hitTest(event->position().toPoint());
    if (key != kNoKey)
        emit keyChosen(key);
}

void CQXKeyboardSelect::leaveEvent(QEvent*) {
    if (m_hover != kNoKey) {
        m_hover = kNoKey;
        update();
    }
}
