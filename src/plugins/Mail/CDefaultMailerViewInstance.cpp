#include "CDefaultMailerViewInstance.h"

#include "MailDrawing.h"
#include "platform/QXDesktop.h"
#include "platform/QXLog.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

void CDefaultMailerViewInstance::Update() {
    // lastPoll 0: the first update since Activate, which draws whatever the store says.
    if (!m_mailbox.changed() && lastPoll() != 0)
        return;
    int unread = m_mailbox.count();
    if (unread < 0)
        MailDrawing::show(context(), "mailer_error.png");
    else if (unread == 0)
        MailDrawing::show(context(), "mailer_no.png");
    else
        MailDrawing::show(context(), "mailer_get.png", unread, MailDrawing::kMailerBadge);
}

void CDefaultMailerViewInstance::defaultAction() {
    static std::atomic<bool> told{false};
    if (!qxOpenMailClient() && !told.exchange(true))
        QXLog::warning(QXLog::kPlugins,
                       "No mail program to open: no application handles mailto: addresses "
                       "and xdg-email is not installed");
}

namespace {

// The desktop entry named for "mailto:" addresses ("thunderbird.desktop"), or "".
std::string mailtoDesktopEntry() {
    if (QXDesktop::findOnPath("xdg-mime").empty())
        return {};
    FILE* pipe = ::popen("xdg-mime query default x-scheme-handler/mailto 2>/dev/null", "re");
    if (!pipe)
        return {};
    char line[512] = {};
    std::string entry;
    if (std::fgets(line, sizeof line, pipe))
        entry = line;
    ::pclose(pipe);
    while (!entry.empty() && (entry.back() == '\n' || entry.back() == ' '))
        entry.pop_back();
    // Only a plain desktop file id goes on to another program's command line.
    if (!entry.ends_with(".desktop") || entry.find_first_of("/ ") != std::string::npos)
        return {};
    return entry;
}

} // namespace

bool qxOpenMailClient() {
    std::string entry = mailtoDesktopEntry();
    if (!entry.empty() && !QXDesktop::findOnPath("gtk-launch").empty() &&
        QXDesktop::start({"gtk-launch", entry.substr(0, entry.size() - 8)}))
        return true;
    return !QXDesktop::findOnPath("xdg-email").empty() && QXDesktop::start({"xdg-email"});
}
