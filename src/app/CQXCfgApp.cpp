#include "app/CQXCfgApp.h"

#include "app/CQXCommandLineInfo.h"
#include "app/CQXMessageDispatch.h"
#include "app/QXMainController.h"
#include "app/QXQtLog.h"
#include "app/QXSingleInstance.h"
#include "app/QXStartupSweep.h"
#include "app/QXSysApplicationsController.h"
#include "app/QXTrayIcon.h"
#include "platform/QXLog.h"
#include "platform/QXMessages.h"
#include "platform/QXText.h"
#include "store/QXProfile.h"

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace {

// Signals reach the GUI thread through a pipe.
int g_signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

void catchEndSignals(QObject* parent) {
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char buffer[16];
        while (::read(g_signalPipe[0], buffer, sizeof buffer) > 0) {
        }
        // The session is ending: the keyboard gets its final files now, then the program
        // ends as though "Exit" was chosen.
        QXDispatch::current().Send(qxwin::WM_ENDSESSION, 1, 0);
        QXDispatch::current().Post(qxwin::WM_CLOSE);
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

// Said once at start when the hook has no X session to watch: the keyboard, its pictures,
// views and actions work over the device alone, but which application is in front, the
// keyboard language and the modifier keys are seen only through X.
std::string noXSessionNotice() {
    const char* display = std::getenv("DISPLAY");
    const std::string reason = display && *display
                                   ? std::string("the X display ") + display + " cannot be opened"
                                   : std::string("DISPLAY is not set");
    return "No X session (" + reason +
           "): application, language and modifier conditions need an X session and stay "
           "off; the keyboard is driven as usual";
}

} // namespace

CQXCfgApp::CQXCfgApp(int& argc, char** argv)
    : m_application(std::make_unique<QApplication>(argc, argv)) {
    // The program lives in the notification area; closing its window does not end it.
    m_application->setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("Tessera Quadrix Configurator"));
}

CQXCfgApp::~CQXCfgApp() = default;

int CQXCfgApp::run() {
    std::vector<std::string> arguments;
    const QStringList qtArguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i < qtArguments.size(); ++i)
        arguments.push_back(qtArguments[i].toStdString());
    CQXCommandLineInfo commandLine(arguments);

    QXSingleInstance instance;
    if (!instance.claim(commandLine)) {
        if (instance.failure().empty())
            return 0; // handed over to the running copy, which answered
        QXLog::warning(QXLog::kApp, instance.failure());
        return 1;
    }
    // Only now, holding the lock, is nothing else using the temporary folder.
    {
        const QXProfileFolders folders = QXProfileFolders::forCurrentUser();
        QXStartupSweep::run(folders.profile, folders.temporary);
    }

    // The dispatch window installs the hook; it is removed when the window goes, last.
    installQtLogSink();
    auto dispatch = std::make_unique<CQXMessageDispatch>();
    instance.listen(*dispatch);
    catchEndSignals(m_application.get());

    int status = 0;
    {
        // What the start-up repaired or refused is told once the icon is there.
        QXTrayIcon* trayIcon = nullptr;
        QXUserNotices notices([&trayIcon](const QStringList& notes) {
            if (trayIcon)
                trayIcon->notify(notes);
        });
        if (!dispatch->hooked())
            QXLog::warning(QXLog::kApp, noXSessionNotice());
        QXMainController controller;
        controller.loadProfile();
        controller.connectKeyboard();
        QXTrayIcon tray(controller.device().isConnected(),
                        [&controller] { return controller.mainWindow() != nullptr; });
        trayIcon = &tray;
        notices.start();
        if (!commandLine.minimized())
            dispatch->Send(QXM_SHOW_MAIN_WINDOW);
        if (!commandLine.layersFile().empty()) {
            std::error_code ec;
            const std::u16string path =
                fromPath(std::filesystem::absolute(commandLine.layersFile(), ec));
            dispatch->SendCopyData(QXM_OPEN_FILE, path.c_str(), (path.size() + 1) * 2);
        }
        m_started = true;

        status = QApplication::exec();
        // Closing the dispatch window ended the loop; nothing more is taken in. A copy
        // started from now on waits for this one to end and then starts afresh.
        instance.stopListening();
        dispatch->shutdown();
        trayIcon = nullptr;
        controller.shutdown();
    }
    dispatch.reset();
    return status;
}
