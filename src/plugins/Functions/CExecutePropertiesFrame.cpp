#include "CExecutePropertiesFrame.h"

#include "FunctionsProps.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

CExecutePropertiesFrame::CExecutePropertiesFrame(IExecutePluginViewProps* props, QWidget* parent)
    : CFunctionsPage(103, parent), m_props(props),
      m_label(new QLabel(QStringLiteral("File or URL"), this)), m_edit(new QLineEdit(this)),
      m_browse(new QPushButton(QStringLiteral("Browse..."), this)) {
    resize(300, 64);
    m_label->setObjectName(QStringLiteral("1010"));
    m_label->setGeometry(8, 8, 200, 16);
    m_edit->setObjectName(QStringLiteral("1011"));
    m_edit->setAccessibleName(QStringLiteral("File or URL"));
    m_edit->setGeometry(8, 28, 200, 24);
    m_edit->setText(props->path());
    m_browse->setObjectName(QStringLiteral("1012"));
    m_browse->setAccessibleName(QStringLiteral("Browse"));
    m_browse->setGeometry(214, 27, 78, 26);
    m_label->setBuddy(m_edit);
    connect(m_edit, &QLineEdit::textEdited, this,
            [this](const QString& text) { m_props->setPath(text); });
    connect(m_browse, &QPushButton::clicked, this, &CExecutePropertiesFrame::browse);
}

void CExecutePropertiesFrame::showPath(const QString& path) {
    QSignalBlocker blocker(m_edit);
    m_edit->setText(path);
}

int CExecutePropertiesFrame::OnInitDialog() {
    int result = CTesDialog::OnInitDialog();
    AddControl(m_edit, TES_FOLLOW_WIDTH, 1, QRect());
    AddControl(m_browse, TES_MOVE_RIGHT, 1, QRect());
    return result;
}

void CExecutePropertiesFrame::browse() {
    // The open-file dialog only returns a file that exists in a folder that exists.
    QString path = QFileDialog::getOpenFileName(this, QString(), m_edit->text(),
                                                QStringLiteral("All files (*)"));
    if (path.isEmpty())
        return;
    showPath(path);
    m_props->setPath(path);
}
