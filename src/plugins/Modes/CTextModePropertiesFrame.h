#pragma once

#include "controls/CTesDialog.h"

class ITextModePluginViewProps;
class QCheckBox;

// The text-mode condition's page: one check box, "Text input mode".
class CTextModePropertiesFrame : public CTesDialog {
    Q_OBJECT
public:
    CTextModePropertiesFrame(ITextModePluginViewProps& props, QWidget* parent);
    ~CTextModePropertiesFrame() override;

private:
    ITextModePluginViewProps& m_props;
    QCheckBox* m_textMode = nullptr;
};
