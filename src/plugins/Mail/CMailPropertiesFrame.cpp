#include "CMailPropertiesFrame.h"

#include "MailProps.h"
#include "controls/CTesDialogUnits.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>

namespace {

// Laid out in dialog units. Labels 39 units wide, edits 146 by 13, rows 19 apart.
constexpr int kFrameWidth = 185, kFrameHeight = 69;
constexpr int kLabelWidth = 39, kEditWidth = 146, kEditHeight = 13, kRowStep = 19, kTop = 4;

} // namespace

CMailPropertiesFrame::CMailPropertiesFrame(unsigned int templateId, bool withServer,
                                           IMailPluginViewProps* props, QWidget* parent)
    : CTesDialog(templateId, parent, 0) {
    setWindowFlags(Qt::Widget);
    const CTesDialogUnits units(font());
    resize(units.x(kFrameWidth), units.y(kFrameHeight));
    m_login = addRow(0, QStringLiteral("Login"), "1004", "2004");
    m_password = addRow(1, QStringLiteral("Password"), "1005", "2005");
    m_password->setEchoMode(QLineEdit::Password);
    m_login->setText(props->userName());
    // The typed password lives only in the edit; the view keeps the protected form.
    m_password->setText(MailProps::unprotect(props->protectedPassword()));
    connect(m_login, &QLineEdit::textEdited, this,
            [props](const QString& text) { props->SetUserName(text); });
    connect(m_password, &QLineEdit::textEdited, this,
            [props](const QString& text) { props->SetPassword(text); });
    if (withServer) {
        m_server = addRow(2, QStringLiteral("Server"), "1006", "2006");
        m_server->setToolTip(QStringLiteral(
            "host (port 110), host:port, or pop3s://host[:port] for a secure connection "
            "(port 995 unless given)"));
        m_server->setText(props->server());
        connect(m_server, &QLineEdit::textEdited, this,
                [props](const QString& text) { props->SetServer(text); });
    }
}

QLineEdit* CMailPropertiesFrame::addRow(int row, const QString& caption, const char* labelId,
                                        const char* editId) {
    const CTesDialogUnits units(font());
    const int top = kTop + row * kRowStep;
    auto* label = new QLabel(caption, this);
    label->setObjectName(QString::fromLatin1(labelId));
    label->setGeometry(0, units.y(top + 2), units.x(kLabelWidth), units.y(8));
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::fromLatin1(editId));
    edit->setAccessibleName(caption);
    edit->setGeometry(units.x(kLabelWidth), units.y(top), units.x(kEditWidth),
                      units.y(kEditHeight));
    label->setBuddy(edit);
    return edit;
}

int CMailPropertiesFrame::OnInitDialog() {
    int result = CTesDialog::OnInitDialog();
    for (QLineEdit* edit : {m_login, m_password, m_server})
        if (edit)
            AddControl(edit, TES_FOLLOW_WIDTH, 1, QRect());
    return result;
}
