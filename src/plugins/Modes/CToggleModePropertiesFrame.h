#pragma once

#include "controls/CTesDialog.h"

class IModesPluginViewProps;
class QComboBox;
class QLabel;

// The toggle and hold actions' page: a drop-down list of "(None)" and the layers that hold
// a mode condition now; choosing one stores it as the action's target.
class CToggleModePropertiesFrame : public CTesDialog {
    Q_OBJECT
public:
    static constexpr int kTipId = 2008;

    CToggleModePropertiesFrame(IModesPluginViewProps& props, QWidget* parent);
    ~CToggleModePropertiesFrame() override;

protected:
    int OnInitDialog() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void selected(int index);

    IModesPluginViewProps& m_props;
    QLabel* m_caption = nullptr;
    QComboBox* m_layers = nullptr;
    QLabel* m_tip = nullptr;
};
