#pragma once

#include <QImage>
#include <QWidget>

// The keyboard picture stretched to the control's size, with every key's label, for
// picking one key: the key under the mouse and the current key carry 2-pixel frames
// 52 x 52 picture pixels around their images. Releasing the left button over a key
// chooses it; a press where there is no key drags the window by its body.
class CQXKeyboardSelect : public QWidget {
    Q_OBJECT
public:
    static constexpr size_t kNoKey = 113;

    explicit CQXKeyboardSelect(QWidget* parent = nullptr);

    size_t currentKey() const { return m_current; }
    void setCurrentKey(size_t key);
    size_t hoverKey() const { return m_hover; }
    // The key whose frame holds the point (control coordinates); kNoKey for none.
    size_t hitTest(QPoint point) const;
    // The key's image square in control coordinates.
    QRect keyRect(size_t key) const;
    // The picture's width to height.
    static QSize pictureSize();

signals:
    void keyChosen(size_t key);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QRectF scaled(const QRectF& pictureRect) const;
    void drawFrame(QPainter& painter, size_t key, const QColor& colour) const;

    QImage m_picture;
    size_t m_current = kNoKey;
    size_t m_hover = kNoKey;
    bool m_dragging = false;
    QPoint m_dragOffset; // from the window's corner to the pointer
};
