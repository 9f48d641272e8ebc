#include "CStringPropertiesFrame.h"

#include "FunctionsProps.h"

#include <QLineEdit>

CStringPropertiesFrame::CStringPropertiesFrame(IStringPluginViewProps* props, QWidget* parent)
    : CFunctionsPage(102, parent), m_edit(new QLineEdit(this)) {
    resize(300, 40);
    m_edit->setObjectName(QStringLiteral("1001"));
    m_edit->setAccessibleName(QStringLiteral("Text to type"));
    m_edit->setGeometry(8, 8, 284, 24);
    m_edit->setText(props->string());
    connect(m_edit, &QLineEdit::textChanged, this,
            [props](const QString& text) { props->setString(text); });
}

int CStringPropertiesFrame::OnInitDialog() {
    int result = CTesDialog::OnInitDialog();
    AddControl(m_edit, TES_FOLLOW_WIDTH, 1, QRect());
    return result;
}
