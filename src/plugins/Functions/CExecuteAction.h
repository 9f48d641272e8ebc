#pragma once

#include "FunctionsProps.h"
#include "kit/CQXPluginInstance.h"

// "execute.action": a press opens "Path" with the desktop's opener; a file dropped on the
// key's properties becomes the path (of several, the first). GUI thread.
class CExecuteAction : public CQXPluginInstance<IQXActionPluginInstance>,
                       public IQXPluginGUIController,
                       public IQXPluginDropTarget,
                       public IExecutePluginViewProps {
public:
    explicit CExecuteAction(IQXActionPluginContext* context);

    IQXPluginGUIController* GetGUIController() override { return this; }
    IQXPluginDropTarget* GetDropTarget() override { return this; }
    void KeyDown() override;
    void KeyUp() override {}

    QXWindowHandle CreateGUI(QXWindowHandle parent) override;
    QXBool DestroyGUI() override { return m_page.destroy(); }

    QXBool AcceptFiles(int32_t count) override { return count > 0 ? 1 : 0; }
    // Takes the path and asks for no more.
    QXBool DropFile(const char16_t* path) override;

    QString path() const override { return m_path; }
    void setPath(const QString& path) override;

private:
    QString m_path;
    FunctionsProps::PageHolder m_page;
};
