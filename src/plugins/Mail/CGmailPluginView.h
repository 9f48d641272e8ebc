#pragma once

#include "CGmailFeedReader.h"
#include "MailProps.h"
#include "kit/CQXViewPluginInstanceExWithDownloading.h"

#include <atomic>
#include <mutex>
#include <string>

// "incount.gmail.view": the unread count of a web mail account, read every minute from the
// service's Atom feed with the account's user name and password (basic authentication
// over HTTPS). The feed's address is QX_MAIL_FEED_URL when set (tests), else the service's.
//
// Threads: Update on the working thread, the download notifications on a download thread,
// the setters and defaultAction on the GUI thread; the feed reader's state is guarded.
class CGmailPluginView : public IQXPluginGUIController,
                         public CQXViewPluginInstanceExWithDownloading<CGmailPluginView, 60000>,
                         public CGmailFeedReader,
                         public IMailPluginViewProps,
                         public CMailViewInstanceBase {
public:
    static constexpr const char16_t* kDefaultFeedUrl = u"https://mail.google.com/mail/feed/atom";

    explicit CGmailPluginView(IQXViewPluginContext* context);

    IQXPluginGUIController* GetGUIController() override { return this; }
    QXWindowHandle CreateGUI(QXWindowHandle parent) override;
    QXBool DestroyGUI() override { return m_page.destroy(); }

    void Update() override;
    void OnComplete(const unsigned char* body, size_t length) override;
    void OnFailed(int error, int httpStatus) override;

    void SetUserName(const QString& text) override;
    void SetPassword(const QString& text) override;
    void SetServer(const QString& /*text*/) override {}
    QString userName() const override;
    QString protectedPassword() const override;
    QString server() const override { return {}; }

    // The key's action: opens the newest unread message and polls again at the next tick;
    // nothing before a feed with mail arrived.
    void defaultAction();
    // The newest unread message's address from the last feed.
    QString newestLink() const;

private:
    // An edit makes the next poll come about 7 s later rather than up to a minute later.
    void rescheduleAfterEdit();

    mutable std::mutex m_mutex; // m_userName, m_password and the reader's state
    QString m_userName;
    QString m_password; // protected form
    std::atomic<int> m_lastFailure{0}; // the last failure logged, 0 after a success
    MailProps::PageHolder m_page;
};
