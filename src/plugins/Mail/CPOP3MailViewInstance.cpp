#include "CPOP3MailViewInstance.h"

#include "CMailPropertiesFrame.h"
#include "MailDrawing.h"
#include "platform/QXLog.h"
#include "utility/utility.h"

#include <cstring>
#include <string>

CPOP3MailViewInstance::CPOP3MailViewInstance(IQXViewPluginContext* context)
    : CQXSelfthreadViewPluginInstanceEx(context),
      m_userName(MailProps::read(context, u"UserName")),
      m_password(MailProps::read(context, u"Password")),
      m_server(MailProps::read(context, u"Server")) {}

QXWindowHandle CPOP3MailViewInstance::CreateGUI(QXWindowHandle parent) {
    return m_page.show(new CPOPPropertiesFrame(this, static_cast<QWidget*>(parent)));
}

void CPOP3MailViewInstance::wakeUp(uint32_t waitResult) {
    if (waitResult == kQXWaitTimeout)
        poll();
}

void CPOP3MailViewInstance::poll() {
    std::u16string server, user, protectedPassword;
    {
        std::lock_guard lock(m_mutex);
        server = m_server.trimmed().toStdU16String();
        user = m_userName.toStdU16String();
        protectedPassword = m_password.toStdU16String();
    }
    if (server.empty() || user.empty() || protectedPassword.empty()) {
        // Not set up yet: nothing goes to the network.
        MailDrawing::show(context(), "mailer_error.png");
        return;
    }
    try {
        char16_t plain[256] = {};
        if (!PassUnprotect(protectedPassword.c_str(), plain, 256)) {
            reportOnce("the stored password cannot be recovered (made with another key?)");
            MailDrawing::show(context(), "mailer_error.png");
            return;
        }
        {
            std::u16string password(plain);
            explicit_bzero(plain, sizeof plain);
            try {
                m_connection.Connect(server, user, password);
            } catch (...) {
                explicit_bzero(password.data(), password.size() * sizeof(char16_t));
                throw;
            }
            explicit_bzero(password.data(), password.size() * sizeof(char16_t));
        }
        m_connection.Noop();
        int size = 0;
        m_connection.Statistics(m_count, size);
        if (m_count < 1)
            MailDrawing::show(context(), "mailer_no.png");
        else
            MailDrawing::show(context(), "mailer_get.png", m_count, MailDrawing::kMailerBadge);
        m_lastProblem.clear();
        m_connection.Disconnect();
    } catch (const CPOP3Exception& e) {
        reportOnce("error " + std::to_string(e.facility()) + "/" + std::to_string(e.code()) +
                   " (" + QString::fromStdU16String(e.response).left(200).toStdString() + ")");
        MailDrawing::show(context(), "mailer_error.png");
    } catch (const std::exception& e) {
        reportOnce(e.what());
        MailDrawing::show(context(), "mailer_error.png");
    }
    // After a failure the next poll starts from a closed socket.
    try {
        if (m_connection.connected)
            m_connection.Disconnect();
    } catch (...) {
    }
}

void CPOP3MailViewInstance::reportOnce(const std::string& problem) {
    if (problem == m_lastProblem)
        return;
    m_lastProblem = problem;
    QXLog::warning(QXLog::kPlugins, "POP3 mailbox not counted: " + problem);
}

void CPOP3MailViewInstance::SetUserName(const QString& text) {
    {
        std::lock_guard lock(m_mutex);
        m_userName = text;
    }
    MailProps::write(context(), u"UserName", text);
}

void CPOP3MailViewInstance::SetPassword(const QString& text) {
    QString protectedText = MailProps::protect(text);
    {
        std::lock_guard lock(m_mutex);
        m_password = protectedText;
    }
    MailProps::write(context(), u"Password", protectedText);
}

void CPOP3MailViewInstance::SetServer(const QString& text) {
    {
        std::lock_guard lock(m_mutex);
        m_server = text;
    }
    MailProps::write(context(), u"Server", text);
}

QString CPOP3MailViewInstance::userName() const {
    std::lock_guard lock(m_mutex);
    return m_userName;
}

QString CPOP3MailViewInstance::protectedPassword() const {
    std::lock_guard lock(m_mutex);
    return m_password;
}

QString CPOP3MailViewInstance::server() const {
    std::lock_guard lock(m_mutex);
    return m_server;
}
