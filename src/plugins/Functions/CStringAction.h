#pragma once

#include "FunctionsProps.h"
#include "kit/CQXPluginInstance.h"

// "string.action": a press types "String". GUI thread.
class CStringAction : public CQXPluginInstance<IQXActionPluginInstance>,
                      public IQXPluginGUIController,
                      public IStringPluginViewProps {
public:
    explicit CStringAction(IQXActionPluginContext* context);

    IQXPluginGUIController* GetGUIController() override { return this; }
    void KeyDown() override;
    void KeyUp() override {}

    QXWindowHandle CreateGUI(QXWindowHandle parent) override;
    QXBool DestroyGUI() override { return m_page.destroy(); }

    QString string() const override { return m_text; }
    void setString(const QString& text) override;

private:
    QString m_text;
    FunctionsProps::PageHolder m_page;
};
