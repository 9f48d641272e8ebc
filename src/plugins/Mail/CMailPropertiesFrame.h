#pragma once

#include "controls/CTesDialog.h"

#include <QKeyEvent>

class IMailPluginViewProps;
class QLineEdit;

// The page of a mail view: "Login" (2004), "Password" (2005, echo hidden) and, for POP3,
// "Server" (2006); the edits' width follows the page. Filled from the view on creation, the
// password recovered from its protected form; every edit goes straight back to the view.
class CMailPropertiesFrame : public CTesDialog {
    Q_OBJECT
public:
    CMailPropertiesFrame(unsigned int templateId, bool withServer, IMailPluginViewProps* props,
                         QWidget* parent);

protected:
    int OnInitDialog() override;
    // Embedded in the editor's key properties: Escape and Enter belong to the editor.
    void keyPressEvent(QKeyEvent* event) override { event->ignore(); }

private:
    QLineEdit* addRow(int row, const QString& caption, const char* labelId, const char* editId);

    QLineEdit* m_login;
    QLineEdit* m_password;
    QLineEdit* m_server = nullptr;
};

class CGmailPropertiesFrame : public CMailPropertiesFrame {
public:
    CGmailPropertiesFrame(IMailPluginViewProps* props, QWidget* parent)
        : CMailPropertiesFrame(102, false, props, parent) {}
};

class CPOPPropertiesFrame : public CMailPropertiesFrame {
public:
    CPOPPropertiesFrame(IMailPluginViewProps* props, QWidget* parent)
        : CMailPropertiesFrame(2000, true, props, parent) {}
};
