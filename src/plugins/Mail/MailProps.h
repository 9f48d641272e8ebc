#pragma once

#include "kit/QXPluginProps.h"
#include "pluginhost/QXPluginInterfaces.h"

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

using QXPluginProps::read;
using QXPluginProps::write;
using QXPluginProps::PageHolder;

// The protected form of a typed password; empty for an empty one. Logs when no protection
// was possible (no key): the password is then not kept at all rather than kept in plain.
QString protect(const QString& plain);
// The typed form of a protected password; empty when it cannot be recovered.
QString unprotect(const QString& protectedText);

} // namespace MailProps
