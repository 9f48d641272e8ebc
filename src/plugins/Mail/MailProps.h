#pragma once

#include "pluginhost/QXPluginInterfaces.h"

#include <QPointer>
#include <QString>
#include <QWidget>

// The common base of the three mail views; it adds nothing.
class CMailViewInstanceBase {
protected:
    ~CMailViewInstanceBase() = default;
};

// What the mail property frames write back through, on the GUI thread: each setter keeps
// the value in the view and stores it at once as the key's property.
class IMailPluginViewProps {
public:
    virtual void SetUserName(const QString& text) = 0;
    // Takes the password as typed and keeps only its protected form.
    virtual void SetPassword(const QString& text) = 0;
    virtual void SetServer(const QString& text) = 0;

    virtual QString userName() const = 0;
    virtual QString protectedPassword() const = 0;
    virtual QString server() const = 0;

protected:
    ~IMailPluginViewProps() = default;
};

namespace MailProps {

inline QString read(IQXPluginContext* context, const char16_t* name) {
    char16_t buffer[kQXTextCapacity] = {};
    if (!context->GetProperty(name, buffer))
        return {};
    return QString::fromUtf16(buffer);
}

inline void write(IQXPluginContext* context, const char16_t* name, const QString& value) {
    context->SetProperty(name, reinterpret_cast<const char16_t*>(value.utf16()));
}

// The protected form of a typed password; empty for an empty one. Logs when no protection
// was possible (no key): the password is then not kept at all rather than kept in plain.
QString protect(const QString& plain);
// The typed form of a protected password; empty when it cannot be recovered.
QString unprotect(const QString& protectedText);

// The property frame a view shows: made as a child of the host's parent, deleted by
// DestroyGUI or with the view, whichever comes first.
class PageHolder {
public:
    PageHolder() = default;
    PageHolder(const PageHolder&) = delete;
    PageHolder& operator=(const PageHolder&) = delete;
    ~PageHolder() { delete m_page.data(); }

    QXWindowHandle show(QWidget* page) {
        delete m_page.data();
        m_page = page;
        page->show();
        return page;
    }
    QXBool destroy() {
        bool had = !m_page.isNull();
        delete m_page.data();
        return had ? 1 : 0;
    }

private:
    QPointer<QWidget> m_page;
};

} // namespace MailProps
