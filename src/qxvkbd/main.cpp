// qxvkbd: a virtual keyboard for tests and for anyone without the hardware. See
// QXVkbdCommandLine.h for the command line and QXControlServer.h for the control socket.
#include "QXControlServer.h"
#include "QXKeyboardWindow.h"
#include "QXVirtualKeyboard.h"
#include "QXVkbdCommandLine.h"
#include "device/QXDeviceDiscovery.h"
#include "platform/QXFolders.h"

#include <QApplication>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// How long the disk must stay unchanged before a --snapshot is written: the program
// writes a whole set of files in one go, and the picture should show all of them.
constexpr int kSettleMilliseconds = 500;

int g_signalPipe[2] = {-1, -1};

void onSignal(int signal) {
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// SIGINT, SIGTERM and SIGHUP end the event loop, so the keyboard is taken away as at a
// normal end.
void quitOnSignals(QCoreApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPipe) != 0)
        return;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte;
        while (::read(g_signalPipe[0], &byte, 1) > 0) {
        }
        app.quit();
    });
}

bool haveDisplay() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

int runKeyboard(int argc, char** argv, const QXVkbdCommandLine& line, const fs::path& folder) {
    const bool window = !line.noWindow && haveDisplay();
    std::unique_ptr<QCoreApplication> app = window ? std::make_unique<QApplication>(argc, argv)
                                                   : std::make_unique<QCoreApplication>(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    quitOnSignals(*app);

    QXVirtualKeyboard keyboard;
    QXVirtualKeyboard::Options options;
    options.folder = folder;
    options.name = line.name;
    options.version = line.version.empty() ? QXVirtualKeyboard::kDefaultVersion : line.version;
    options.keyReports = !line.old;
    std::string error;
    if (!keyboard.start(options, error)) {
        std::fprintf(stderr, "qxvkbd: %s\n", error.c_str());
        return 1;
    }
    std::printf("virtual keyboard '%s' at %s\n", line.name.c_str(), keyboard.path().c_str());
    std::fflush(stdout);

    std::unique_ptr<QXKeyboardWindow> view;
    if (window) {
        view = std::make_unique<QXKeyboardWindow>(keyboard);
        view->show();
    }

    QTimer settle, timeout;
    if (!line.snapshot.empty()) {
        const std::string file = fs::absolute(line.snapshot).string();
        settle.setSingleShot(true);
        settle.setInterval(kSettleMilliseconds);
        QObject::connect(&keyboard, &QXVirtualKeyboard::pictureChanged, &settle,
                         qOverload<>(&QTimer::start));
        QObject::connect(&settle, &QTimer::timeout, app.get(), [&, file] {
            std::string why;
            const bool written = keyboard.writeSnapshot(file, why);
            if (!written)
                std::fprintf(stderr, "qxvkbd: %s\n", why.c_str());
            if (!window)
                app->exit(written ? 0 : 1);
        });
        if (!window) {
            timeout.setSingleShot(true);
            QObject::connect(&timeout, &QTimer::timeout, app.get(), [&, file] {
                std::string why;
                if (!keyboard.writeSnapshot(file, why)) {
                    std::fprintf(stderr, "qxvkbd: %s\n", why.c_str());
                    app->exit(1);
                    return;
                }
                std::fprintf(stderr,
                             "qxvkbd: nothing was written within %d s; %s shows the "
                             "keyboard as it started\n",
                             line.timeoutSeconds, file.c_str());
                app->exit(3);
            });
            timeout.start(line.timeoutSeconds * 1000);
        }
    }

    const int status = app->exec();
    view.reset();
    return status;
}

int runClient(const QXVkbdCommandLine& line, const fs::path& folder) {
    const fs::path keyboard = folder / line.name;
    std::string request;
    if (line.command == QXVkbdCommandLine::Command::Press)
        request = "press " + line.key;
    else
        request = "snapshot " + fs::absolute(line.snapshot).string();
    std::string answer, error;
    if (!QXControlServer::request(keyboard / "control.sock", request, answer, error)) {
        std::fprintf(stderr, "qxvkbd: no virtual keyboard '%s' is running in %s (%s)\n",
                     line.name.c_str(), folder.c_str(), error.c_str());
        return 1;
    }
    if (answer.rfind("ok ", 0) == 0) {
        std::printf("%s\n", answer.c_str() + 3);
        return 0;
    }
    const std::string reason = answer.rfind("error ", 0) == 0 ? answer.substr(6) : answer;
    std::fprintf(stderr, "qxvkbd: %s\n", reason.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto line =
        QXVkbdCommandLine::parse(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!line) {
        std::fprintf(stderr, "qxvkbd: %s (qxvkbd --help tells more)\n", error.c_str());
        return 2;
    }
    if (line->command == QXVkbdCommandLine::Command::Help) {
        std::fputs(QXVkbdCommandLine::usage(), stdout);
        return 0;
    }
    if (line->command == QXVkbdCommandLine::Command::Version) {
        std::puts("qxvkbd (Tessera Quadrix Configurator) " QX_VERSION);
        return 0;
    }
    fs::path folder;
    if (!line->folder.empty()) {
        folder = fs::absolute(line->folder);
    } else if (auto shared = QXDeviceDiscovery::defaultVirtualFolder()) {
        folder = *shared;
    } else {
        std::fprintf(stderr, "qxvkbd: %s is not a folder of this user's alone; remove it or "
                             "give another with --folder\n",
                     QXFolders::virtualKeyboardFolderPath().c_str());
        return 1;
    }
    if (line->command == QXVkbdCommandLine::Command::Run)
        return runKeyboard(argc, argv, *line, folder);
    return runClient(*line, folder);
}
