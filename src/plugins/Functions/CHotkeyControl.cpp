#include "CHotkeyControl.h"

#include "QXHotkeyText.h"
#include "platform/QXKeyCodes.h"

#include <QKeyEvent>

namespace {

bool isModifierKey(uint32_t vk) {
    return vk == 0x10 || vk == 0x11 || vk == 0x12 || vk == 0x5B || vk == 0x5C ||
           (vk >= 0xA0 && vk <= 0xA5) || vk == 3;
}

uint32_t virtualKeyFromQt(int key) {
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
        return static_cast<uint32_t>(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return 112 + static_cast<uint32_t>(key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Pause:
        return 19;
    case Qt::Key_CapsLock:
        return 20;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Space:
        return 32;
    case Qt::Key_PageUp:
        return 33;
    case Qt::Key_PageDown:
        return 34;
    case Qt::Key_End:
        return 35;
    case Qt::Key_Home:
        return 36;
    case Qt::Key_Left:
        return 37;
    case Qt::Key_Up:
        return 38;
    case Qt::Key_Right:
        return 39;
    case Qt::Key_Down:
        return 40;
    case Qt::Key_Print:
        return 44;
    case Qt::Key_Insert:
        return 45;
    case Qt::Key_Delete:
        return 46;
    case Qt::Key_Menu:
        return 93;
    case Qt::Key_NumLock:
        return 144;
    case Qt::Key_ScrollLock:
        return 145;
    default:
        return 0;
    }
}

} // namespace

CHotkeyControl::CHotkeyControl(QWidget* parent) : QLineEdit(parent) {
    setContextMenuPolicy(Qt::NoContextMenu);
    setAttribute(Qt::WA_InputMethodEnabled, false); // no composed text in the field
}

bool CHotkeyControl::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    if (event->type() == QEvent::KeyPress) {
        keyPressEvent(static_cast<QKeyEvent*>(event));
        return true;
    }
    return QLineEdit::event(event);
}

uint32_t CHotkeyControl::virtualKeyOf(const QKeyEvent& event) {
    uint32_t vk = event.nativeScanCode() ? QXKeyCodes::virtualKeyFromX(event.nativeScanCode()) : 0;
    if (!vk)
        vk = virtualKeyFromQt(event.key());
    return isModifierKey(vk) ? 0 : vk;
}

void CHotkeyControl::setHotkey(uint32_t modifiers, uint32_t virtualKey) {
    m_modifiers = modifiers;
    m_key = virtualKey;
    showHotkey();
}

void CHotkeyControl::keyPressEvent(QKeyEvent* event) {
    Qt::KeyboardModifiers held = event->modifiers();
    uint32_t modifiers = 0;
    if (held & Qt::AltModifier)
        modifiers |= QXHotkeyText::kAlt;
    if (held & Qt::ControlModifier)
        modifiers |= QXHotkeyText::kCtrl;
    if (held & Qt::MetaModifier)
        modifiers |= QXHotkeyText::kWin;
    if (held & Qt::ShiftModifier)
        modifiers |= QXHotkeyText::kShift;
    m_modifiers = modifiers;
    m_key = virtualKeyOf(*event);
    showHotkey();
    emit hotkeyChanged();
    event->accept();
}

void CHotkeyControl::keyReleaseEvent(QKeyEvent* event) {
    event->accept();
    if (m_key)
        return;
    m_modifiers = 0;
    showHotkey();
}

void CHotkeyControl::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    if (!m_key) {
        m_modifiers = 0;
        showHotkey();
    }
}

void CHotkeyControl::showHotkey() {
    setText(QString::fromStdString(QXHotkeyText::displayText({m_modifiers, m_key})));
}
