#include "app/QXQtLog.h"

#include "platform/QXLog.h"

#include <QLoggingCategory>
#include <QMetaObject>
#include <QThread>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace {

// QLoggingCategory keeps the name pointer: the names live as long as the program.
QLoggingCategory& category(const char* name) {
    static std::mutex mutex;
    static std::map<std::string, std::pair<std::unique_ptr<std::string>,
                                           std::unique_ptr<QLoggingCategory>>> categories;
    std::lock_guard lock(mutex);
    auto& entry = categories[name];
    if (!entry.second) {
        entry.first = std::make_unique<std::string>(name);
        entry.second = std::make_unique<QLoggingCategory>(entry.first->c_str(), QtInfoMsg);
    }
    return *entry.second;
}

} // namespace

void installQtLogSink() {
    if (QXLog::debugEnabled())
        QLoggingCategory::setFilterRules(QStringLiteral("qx.*.debug=true"));
    QXLog::setSink([](QXLogLevel level, const char* name, std::string_view message) {
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
    });
}

QXUserNotices::QXUserNotices(std::function<void(const QStringList&)> show)
    : m_show(std::move(show)) {
    m_observer = QXLog::addObserver([this](QXLogLevel, const char*, std::string_view message) {
        const QString text = QString::fromUtf8(message.data(), qsizetype(message.size()));
        // Observers run on the thread that logged; the list belongs to the GUI thread.
        QMetaObject::invokeMethod(
            this,
            [this, text] {
                m_pending.append(text);
                if (m_started && !m_scheduled) {
                    m_scheduled = true;
                    QMetaObject::invokeMethod(this, &QXUserNotices::deliver, Qt::QueuedConnection);
                }
            },
            thread() == QThread::currentThread() ? Qt::DirectConnection : Qt::QueuedConnection);
    });
}

QXUserNotices::~QXUserNotices() {
    QXLog::removeObserver(m_observer);
}

void QXUserNotices::start() {
    m_started = true;
    if (!m_pending.isEmpty())
        deliver();
}

void QXUserNotices::deliver() {
    m_scheduled = false;
    if (m_pending.isEmpty())
        return;
    QStringList notes;
    notes.swap(m_pending);
    m_show(notes);
}
