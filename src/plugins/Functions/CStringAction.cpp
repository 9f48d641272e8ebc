#include "CStringAction.h"

#include "CStringPropertiesFrame.h"
#include "QXX11Input.h"

CStringAction::CStringAction(IQXActionPluginContext* context)
    : CQXPluginInstance(context), m_text(FunctionsProps::read(context, u"String")) {}

void CStringAction::KeyDown() {
    QXX11Input::typeText(
        std::u16string_view(reinterpret_cast<const char16_t*>(m_text.utf16()), m_text.size()));
}

QXWindowHandle CStringAction::CreateGUI(QXWindowHandle parent) {
    return m_page.show(new CStringPropertiesFrame(this, static_cast<QWidget*>(parent)));
}

void CStringAction::setString(const QString& text) {
    m_text = text;
    FunctionsProps::write(context(), u"String", text);
}
