#include "CHotkeyAction.h"

#include "CHotkeyPropertiesFrame.h"
#include "QXX11Input.h"

CHotkeyAction::CHotkeyAction(IQXActionPluginContext* context)
    : CQXPluginInstance(context),
      m_hotkey(QXHotkeyText::parse(FunctionsProps::read(context, u"Hotkey").toStdU16String())) {}

void CHotkeyAction::KeyDown() {
    QXX11Input::sendHotkey(m_hotkey.modifiers, m_hotkey.virtualKey);
}

QXWindowHandle CHotkeyAction::CreateGUI(QXWindowHandle parent) {
    return m_page.show(new CHotkeyPropertiesFrame(this, static_cast<QWidget*>(parent)));
}

QString CHotkeyAction::hotkey() const {
    return QString::fromStdU16String(QXHotkeyText::format(m_hotkey));
}

void CHotkeyAction::setHotkey(uint32_t modifiers, uint32_t virtualKey) {
    m_hotkey = {modifiers, virtualKey};
    FunctionsProps::write(context(), u"Hotkey", hotkey());
}
