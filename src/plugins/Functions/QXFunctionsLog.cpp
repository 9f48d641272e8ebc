// The plug-in links its own copy of the logging facade (the program's copy is not visible to
// it). Its messages go into Qt's categorized logging, as the program's do, so the same rules
// (QT_LOGGING_RULES, QX_DEBUG) govern both and they come out the same way.

#include "platform/QXLog.h"

#include <QLoggingCategory>
#include <QString>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace {

// QLoggingCategory keeps the name pointer: the names live as long as the library.
QLoggingCategory& category(const char* name) {
    static std::mutex mutex;
    static std::map<std::string,
                    std::pair<std::unique_ptr<std::string>, std::unique_ptr<QLoggingCategory>>>
        categories;
    std::lock_guard lock(mutex);
    auto& entry = categories[name];
    if (!entry.second) {
        entry.first = std::make_unique<std::string>(name);
        entry.second = std::make_unique<QLoggingCategory>(entry.first->c_str(), QtInfoMsg);
    }
    return *entry.second;
}

void toQt(QXLogLevel level, const char* name, std::string_view message) {
    QLoggingCategory& cat = category(name);
    const QString text = QString::fromUtf8(message.data(), qsizetype(message.size()));
    switch (level) {
    case QXLogLevel::Debug:
        qCDebug(cat).noquote() << text;
        break;
    case QXLogLevel::Info:
        qCInfo(cat).noquote() << text;
        break;
    case QXLogLevel::Warning:
        qCWarning(cat).noquote() << text;
        break;
    case QXLogLevel::Critical:
        qCCritical(cat).noquote() << text;
        break;
    }
}

const bool installed = (QXLog::setSink(toQt), true);

} // namespace
