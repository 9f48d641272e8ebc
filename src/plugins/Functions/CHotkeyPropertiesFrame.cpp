#include "CHotkeyPropertiesFrame.h"

#include "CHotkeyControl.h"
#include "FunctionsProps.h"
#include "QXHotkeyText.h"

CHotkeyPropertiesFrame::CHotkeyPropertiesFrame(IHotkeyPluginViewProps* props, QWidget* parent)
    : CFunctionsPage(105, parent), m_field(new CHotkeyControl(this)) {
    resize(300, 40);
    m_field->setObjectName(QStringLiteral("1040"));
    m_field->setAccessibleName(QStringLiteral("Hot-key"));
    m_field->setGeometry(8, 8, 284, 24);
    QXHotkeyText::Hotkey hotkey = QXHotkeyText::parse(props->hotkey().toStdU16String());
    m_field->setHotkey(hotkey.modifiers, hotkey.virtualKey);
    connect(m_field, &CHotkeyControl::hotkeyChanged, this,
            [this, props] { props->setHotkey(m_field->modifiers(), m_field->virtualKey()); });
}

int CHotkeyPropertiesFrame::OnInitDialog() {
    int result = CTesDialog::OnInitDialog();
    AddControl(m_field, TES_FOLLOW_WIDTH, 1, QRect());
    return result;
}
