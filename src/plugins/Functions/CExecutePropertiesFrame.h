#pragma once

#include "CFunctionsPage.h"

class IExecutePluginViewProps;
class QLabel;
class QLineEdit;
class QPushButton;

// The page of "execute.action": the file or address to open, typed in, chosen with the
// system's open-file dialog or dropped on the key.
class CExecutePropertiesFrame : public CFunctionsPage {
    Q_OBJECT
public:
    CExecutePropertiesFrame(IExecutePluginViewProps* props, QWidget* parent);

    // Shows a path the action took by other means (a drop), without storing it again.
    void showPath(const QString& path);

protected:
    int OnInitDialog() override;

private:
    void browse();

    IExecutePluginViewProps* m_props;
    QLabel* m_label;
    QLineEdit* m_edit;
    QPushButton* m_browse;
};
