#include "QXKeyboardWindow.h"

#include <QMouseEvent>
#include <QPainter>
#include <cstdio>
#include <utility>

QXKeyboardWindow::QXKeyboardWindow(QXVirtualKeyboard& keyboard, QWidget* parent)
    : QWidget(parent), m_keyboard(keyboard) {
    setWindowTitle(QString::fromStdString("qxvkbd: " + keyboard.path().filename().string()));
    setMinimumSize(QXVirtualDisplays::kWidth / 4, QXVirtualDisplays::kHeight / 4);
    connect(&keyboard, &QXVirtualKeyboard::pictureChanged, this, [this] {
        m_stale = true;
        update();
    });
}

QSize QXKeyboardWindow::sizeHint() const {
    return {QXVirtualDisplays::kWidth, QXVirtualDisplays::kHeight};
}

// The picture's place in the window: as large as fits, aspect kept, centred.
QRectF QXKeyboardWindow::pictureRect() const {
    const QSizeF picture(QXVirtualDisplays::kWidth, QXVirtualDisplays::kHeight);
    const QSizeF shown = picture.scaled(size(), Qt::KeepAspectRatio);
    return {QPointF((width() - shown.width()) / 2, (height() - shown.height()) / 2), shown};
}

void QXKeyboardWindow::paintEvent(QPaintEvent*) {
    if (m_stale) {
        m_picture = m_keyboard.picture();
        m_stale = false;
    }
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const QRectF target = pictureRect();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, target.width() != m_picture.width());
    painter.drawImage(target, m_picture);
    if (m_held) {
        // The held key's outline, in picture pixels scaled like the picture.
        const double scale = target.width() / QXVirtualDisplays::kWidth;
        const QXVirtualDisplays::Area a = QXVirtualDisplays::keyArea(*m_held);
        const QRectF outline(a.left, a.top, a.right - a.left, a.bottom - a.top);
        painter.setPen(QPen(Qt::yellow, 2));
        painter.drawRect(
            QRectF(target.topLeft() + outline.topLeft() * scale, outline.size() * scale));
    }
}

std::optional<size_t> QXKeyboardWindow::keyAt(QPointF position) const {
    const QRectF target = pictureRect();
    if (!target.contains(position))
        return std::nullopt;
    const QPointF point =
        (position - target.topLeft()) * (QXVirtualDisplays::kWidth / target.width());
    return QXVirtualDisplays::keyAt(static_cast<int>(point.x()), static_cast<int>(point.y()));
}

void QXKeyboardWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || m_held)
        return;
    m_held = keyAt(event->position());
    if (!m_held)
        return;
    m_account = {};
    m_keyboard.keyDown(*m_held, m_account);
    update();
}

void QXKeyboardWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        release();
}

void QXKeyboardWindow::release() {
    if (!m_held)
        return;
    const size_t key = *std::exchange(m_held, std::nullopt);
    m_keyboard.keyUp(key, m_account);
    const std::string text =
        QXVirtualKeyboard::describe(key, m_account, m_keyboard.hasKeyReports());
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
    update();
}
