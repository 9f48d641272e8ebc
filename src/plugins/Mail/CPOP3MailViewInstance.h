#pragma once

#include "MailProps.h"
#include "kit/CQXSelfthreadViewPluginInstanceEx.h"
#include "pop3/CPOP3Connection.h"

#include <mutex>

// "incount.pop.view": the number of messages waiting in a POP3 mailbox, polled at once and
// then every 30 s on the view's own thread. The password is kept protected; the plain one
// exists only during a poll's log-in, in buffers wiped right after.
//
// Threads: the setters and the page on the GUI thread, the polls on the view's thread; the
// account is guarded, the connection belongs to the view's thread.
class CPOP3MailViewInstance : public CQXSelfthreadViewPluginInstanceEx<CPOP3MailViewInstance>,
                              public CMailViewInstanceBase,
                              public IQXPluginGUIController,
                              public IMailPluginViewProps {
public:
    static constexpr uint32_t kPollPeriod = 30000;

    explicit CPOP3MailViewInstance(IQXViewPluginContext* context);

    IQXPluginGUIController* GetGUIController() override { return this; }
    QXWindowHandle CreateGUI(QXWindowHandle parent) override;
    QXBool DestroyGUI() override { return m_page.destroy(); }

    void SetUserName(const QString& text) override;
    void SetPassword(const QString& text) override;
    void SetServer(const QString& text) override;
    QString userName() const override;
    QString protectedPassword() const override;
    QString server() const override;

protected:
    void threadBegin() override { setWaitPeriod(kPollPeriod); }
    void wakeUp(uint32_t waitResult) override;

private:
    void poll();
    void reportOnce(const std::string& problem);

    mutable std::mutex m_mutex; // the account below
    QString m_userName;
    QString m_password; // protected form
    QString m_server;

    int m_count = 0;
    CPOP3Connection m_connection;
    std::string m_lastProblem; // view's thread: the last failure logged
    MailProps::PageHolder m_page;
};
