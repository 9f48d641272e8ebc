#include "CGmailPluginView.h"

#include "CMailPropertiesFrame.h"
#include "MailDrawing.h"
#include "platform/QXDesktop.h"
#include "platform/QXLog.h"

#include <cstdlib>

namespace {

std::u16string feedUrl() {
    if (const char* url = std::getenv("QX_MAIL_FEED_URL"); url && *url)
        return QString::fromUtf8(url).toStdU16String();
    return CGmailPluginView::kDefaultFeedUrl;
}

} // namespace

CGmailPluginView::CGmailPluginView(IQXViewPluginContext* context)
    : CQXViewPluginInstanceExWithDownloading(context),
      m_userName(MailProps::read(context, u"UserName")),
      m_password(MailProps::read(context, u"Password")) {}

QXWindowHandle CGmailPluginView::CreateGUI(QXWindowHandle parent) {
    return m_page.show(new CGmailPropertiesFrame(this, static_cast<QWidget*>(parent)));
}

void CGmailPluginView::Update() {
    if (lastPoll() == 0)
        MailDrawing::show(context(), "mail.png");
    std::u16string user, password;
    {
        std::lock_guard lock(m_mutex);
        user = m_userName.toStdU16String();
        password = m_password.toStdU16String();
    }
    if (!startDownload(feedUrl().c_str(), user.c_str(), password.c_str()))
        OnFailed(0, 0);
}

void CGmailPluginView::OnComplete(const unsigned char* body, size_t length) {
    const char* text = reinterpret_cast<const char*>(body);
    m_lastFailure = 0;
    int32_t shown = 0;
    {
        std::lock_guard lock(m_mutex);
        readCount(text, length);
        if (m_count != 0)
            readLink(text, length);
        shown = m_count;
    }
    if (shown != 0)
        MailDrawing::show(context(), "mail.png", shown, MailDrawing::kWebMailBadge);
    else
        MailDrawing::show(context(), "no_mail.png");
}

void CGmailPluginView::OnFailed(int error, int httpStatus) {
    // Told once per kind of failure, not at every retry of an unreachable feed.
    const int failure = error * 1000 + httpStatus;
    if (m_lastFailure.exchange(failure) != failure)
        QXLog::warning(QXLog::kPlugins, "Web mail feed not read (curl error " +
                                            std::to_string(error) + ", HTTP status " +
                                            std::to_string(httpStatus) + ")");
    MailDrawing::show(context(), "no_connect.png");
    setLastPoll(tickCount());
}

void CGmailPluginView::SetUserName(const QString& text) {
    {
        std::lock_guard lock(m_mutex);
        m_userName = text;
    }
    MailProps::write(context(), u"UserName", text);
    rescheduleAfterEdit();
}

void CGmailPluginView::SetPassword(const QString& text) {
    QString protectedText = MailProps::protect(text);
    {
        std::lock_guard lock(m_mutex);
        m_password = protectedText;
    }
    MailProps::write(context(), u"Password", protectedText);
    rescheduleAfterEdit();
}

QString CGmailPluginView::userName() const {
    std::lock_guard lock(m_mutex);
    return m_userName;
}

QString CGmailPluginView::protectedPassword() const {
    std::lock_guard lock(m_mutex);
    return m_password;
}

void CGmailPluginView::rescheduleAfterEdit() {
    // 60 s period - 53 s = the next poll about 7 s from now.
    if (lastPoll() != 0)
        setLastPoll(tickCount() - 53000);
}

QString CGmailPluginView::newestLink() const {
    std::lock_guard lock(m_mutex);
    return m_link;
}

void CGmailPluginView::defaultAction() {
    QString link = newestLink();
    if (link.isEmpty())
        return;
    if (!QXDesktop::open(link.toStdString()))
        QXLog::warning(QXLog::kPlugins,
                       "Opening the newest mail \"" + link.toStdString() +
                           "\": xdg-open could not be started");
    setLastPoll(0);
}
