#pragma once

#include "CFunctionsPage.h"

class IStringPluginViewProps;
class QLineEdit;

// The page of "string.action": the text to type, stored at every change.
class CStringPropertiesFrame : public CFunctionsPage {
    Q_OBJECT
public:
    CStringPropertiesFrame(IStringPluginViewProps* props, QWidget* parent);

protected:
    int OnInitDialog() override;

private:
    QLineEdit* m_edit;
};
