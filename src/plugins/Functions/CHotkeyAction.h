#pragma once

#include "FunctionsProps.h"
#include "QXHotkeyText.h"
#include "kit/CQXPluginInstance.h"

// "hotkey.action": a press sends the hot-key combination of "Hotkey". GUI thread.
class CHotkeyAction : public CQXPluginInstance<IQXActionPluginInstance>,
                      public IQXPluginGUIController,
                      public IHotkeyPluginViewProps {
public:
    explicit CHotkeyAction(IQXActionPluginContext* context);

    IQXPluginGUIController* GetGUIController() override { return this; }
    void KeyDown() override;
    void KeyUp() override {}

    QXWindowHandle CreateGUI(QXWindowHandle parent) override;
    QXBool DestroyGUI() override { return m_page.destroy(); }

    QString hotkey() const override;
    void setHotkey(uint32_t modifiers, uint32_t virtualKey) override;

private:
    QXHotkeyText::Hotkey m_hotkey;
    FunctionsProps::PageHolder m_page;
};
