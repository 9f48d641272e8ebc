#pragma once

#include <QLineEdit>
#include <cstdint>

// The hot-key capture field: a key pressed with any modifiers shows as "Ctrl+Alt+A" and is
// announced with hotkeyChanged. Modifiers alone show until they are let go (or the field
// loses focus) without a key.
class CHotkeyControl : public QLineEdit {
    Q_OBJECT
public:
    explicit CHotkeyControl(QWidget* parent = nullptr);

    uint32_t modifiers() const { return m_modifiers; }
    uint32_t virtualKey() const { return m_key; }
    void setHotkey(uint32_t modifiers, uint32_t virtualKey);

    // The virtual key of a key event: from the X keycode when there is one, else from Qt's
    // key; 0 for modifier keys and keys without a code.
    static uint32_t virtualKeyOf(const QKeyEvent& event);

signals:
    void hotkeyChanged();

protected:
    // Every key comes to the field: Tab does not move the focus, and no shortcut of the
    // window around it fires while the field has the focus.
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void showHotkey();

    uint32_t m_modifiers = 0;
    uint32_t m_key = 0;
};
