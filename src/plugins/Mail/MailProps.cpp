#include "MailProps.h"

#include "platform/QXLog.h"
#include "utility/utility.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace MailProps {

QString protect(const QString& plain) {
    if (plain.isEmpty())
        return {};
    char16_t buffer[kQXTextCapacity] = {};
    std::u16string text = plain.toStdU16String();
    int ok = PassProtect(text.c_str(), buffer, kQXTextCapacity);
    std::fill(text.begin(), text.end(), u'\0');
    if (!ok) {
        QXLog::warning(QXLog::kPlugins, "Mail password not kept: it could not be protected "
                                        "(too long, or no key in the user's data folder)");
        return {};
    }
    return QString::fromUtf16(buffer);
}

QString unprotect(const QString& protectedText) {
    if (protectedText.isEmpty())
        return {};
    char16_t buffer[256] = {};
    std::u16string text = protectedText.toStdU16String();
    QString plain;
    if (PassUnprotect(text.c_str(), buffer, 256))
        plain = QString::fromUtf16(buffer);
    explicit_bzero(buffer, sizeof buffer);
    return plain;
}

} // namespace MailProps
