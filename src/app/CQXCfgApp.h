#pragma once

#include <memory>

class QApplication;

// The tray program: start-up in order (single instance, dispatch window and hook, main
// controller, profile, keyboard, tray icon, main window unless minimized, the layers
// file of the command line), the message loop, and the way out (profile saved, layers
// and plug-ins released, the keyboard given its final files, hook removed).
//
// The session ending (SIGTERM, SIGINT, SIGHUP) releases the keyboard at once and then
// ends the program the ordinary way.
class CQXCfgApp {
public:
    CQXCfgApp(int& argc, char** argv);
    ~CQXCfgApp();
    CQXCfgApp(const CQXCfgApp&) = delete;
    CQXCfgApp& operator=(const CQXCfgApp&) = delete;

    // Runs the program; the process's exit status.
    int run();
    bool started() const { return m_started; }

private:
    std::unique_ptr<QApplication> m_application;
    bool m_started = false;
};
