#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

// Routes the program's log facade into Qt's categorized logging: "qx.store" and the
// other categories become QLoggingCategory objects, so QT_LOGGING_RULES governs them
// like Qt's own, and QX_DEBUG=1 turns on every "qx.*" debug message. Call once, on the
// GUI thread, after the QApplication exists.
void installQtLogSink();

// Gathers the warnings a user should be told about (files kept aside, groups rebuilt,
// saves that failed, pictures refused) from any thread and hands them to show() on the
// GUI thread, several at once when they come together; each one is shown once.
class QXUserNotices : public QObject {
    Q_OBJECT
public:
    explicit QXUserNotices(std::function<void(const QStringList&)> show);
    ~QXUserNotices() override;

    // Warnings gathered and not yet shown (before show() was given a place to show them).
    QStringList pending() const { return m_pending; }
    // Starts handing warnings to show(); what was gathered before goes first.
    void start();

private:
    void deliver();

    std::function<void(const QStringList&)> m_show;
    QStringList m_pending;
    int m_observer = 0;
    bool m_started = false;
    bool m_scheduled = false;
};
