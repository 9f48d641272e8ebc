#include "CExecuteAction.h"

#include "CExecutePropertiesFrame.h"
#include "platform/QXDesktop.h"
#include "platform/QXLog.h"

CExecuteAction::CExecuteAction(IQXActionPluginContext* context)
    : CQXPluginInstance(context), m_path(FunctionsProps::read(context, u"Path")) {}

void CExecuteAction::KeyDown() {
    if (m_path.isEmpty())
        return;
    // What the opener makes of the path (an error dialog, nothing) is the desktop's business.
    if (!QXDesktop::open(m_path.toStdString()))
        QXLog::warning(QXLog::kPlugins,
                       "Opening \"" + m_path.toStdString() + "\": xdg-open could not be started");
}

QXWindowHandle CExecuteAction::CreateGUI(QXWindowHandle parent) {
    return m_page.show(new CExecutePropertiesFrame(this, static_cast<QWidget*>(parent)));
}

QXBool CExecuteAction::DropFile(const char16_t* path) {
    if (!path)
        return 0;
    setPath(QString::fromUtf16(path));
    if (auto* page = m_page.page<CExecutePropertiesFrame>())
        page->showPath(m_path);
    return 0;
}

void CExecuteAction::setPath(const QString& path) {
    m_path = path;
    FunctionsProps::write(context(), u"Path", path);
}
