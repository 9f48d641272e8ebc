#pragma once

#include "CFunctionsPage.h"

#include <cstdint>

class CTesSliderCtrl;
class IDrawStringPluginViewProps;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The page of "drawstring.view": text, font, size, bold, italic and the two colours; every
// change is stored at once and redraws the key.
class CDrawStringPropertiesFrame : public CFunctionsPage {
    Q_OBJECT
public:
    CDrawStringPropertiesFrame(IDrawStringPluginViewProps* props, QWidget* parent);

protected:
    int OnInitDialog() override;

private:
    QLabel* label(const QString& text, const char* id, int y);
    void chooseColor(bool background);

    IDrawStringPluginViewProps* m_props;
    QLineEdit* m_text;
    QComboBox* m_font;
    CTesSliderCtrl* m_size;
    QLabel* m_sizeNumber;
    QCheckBox* m_bold;
    QCheckBox* m_italic;
    QPushButton* m_color;
    QPushButton* m_bkColor;
};
