#pragma once

#include "CFunctionsPage.h"

class CHotkeyControl;
class IHotkeyPluginViewProps;

// The page of "hotkey.action": the capture field; each captured combination is stored.
class CHotkeyPropertiesFrame : public CFunctionsPage {
    Q_OBJECT
public:
    CHotkeyPropertiesFrame(IHotkeyPluginViewProps* props, QWidget* parent);

protected:
    int OnInitDialog() override;

private:
    CHotkeyControl* m_field;
};
