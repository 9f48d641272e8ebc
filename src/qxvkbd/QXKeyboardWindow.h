#pragma once

#include "QXVirtualKeyboard.h"

#include <QImage>
#include <QWidget>
#include <optional>

// The virtual keyboard on screen: the keyboard picture with every display as the program
// wrote it, 1:1 at first and scaled with the window. Pressing the mouse on a key presses
// it, releasing the button releases it; what reached the program is printed on stdout.
class QXKeyboardWindow : public QWidget {
    Q_OBJECT
public:
    // keyboard must outlive the window.
    explicit QXKeyboardWindow(QXVirtualKeyboard& keyboard, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QRectF pictureRect() const;
    std::optional<size_t> keyAt(QPointF position) const;
    void release();

    QXVirtualKeyboard& m_keyboard;
    QImage m_picture;
    bool m_stale = true;
    std::optional<size_t> m_held;
    QXVirtualKeyboard::Account m_account;
};
