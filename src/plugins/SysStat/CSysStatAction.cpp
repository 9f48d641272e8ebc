#include "CSysStatAction.h"

#include "platform/QXDesktop.h"
#include "platform/QXLog.h"

#include <atomic>

std::vector<std::string> CSysStatAction::monitorCommand() {
    // Looked up at every press: a monitor installed meanwhile is found.
    static const std::vector<std::vector<std::string>> kMonitors = {
        {"gnome-system-monitor", "--show-resources-tab"},
        {"plasma-systemmonitor"},
        {"xfce4-taskmanager"},
    };
    for (const auto& monitor : kMonitors) {
        std::string path = QXDesktop::findOnPath(monitor.front());
        if (path.empty())
            continue;
        std::vector<std::string> command = monitor;
        command.front() = path;
        return command;
    }
    return {};
}

void CSysStatAction::KeyDown() {
    std::vector<std::string> command = monitorCommand();
    if (command.empty()) {
        static std::atomic<bool> told{false};
        if (!told.exchange(true))
            QXLog::warning(QXLog::kPlugins, "System monitor key: none of gnome-system-monitor, "
                                            "plasma-systemmonitor or xfce4-taskmanager is on PATH");
        return;
    }
    if (!QXDesktop::start(command))
        QXLog::warning(QXLog::kPlugins,
                       "System monitor key: " + command.front() + " could not be started");
}
