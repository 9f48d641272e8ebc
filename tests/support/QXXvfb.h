#pragma once

#include "support/QXTestSupport.h"

#include <memory>
#include <string>
#include <sys/types.h>

namespace qxtest {

// A private X server for tests of X11 code: Xvfb on a free display number, so no test
// ever touches the developer's desktop. While the object lives DISPLAY points at it;
// the destructor stops everything it started and restores DISPLAY. The header pulls in
// no Xlib, so tests that use Qt can include it.
class QXXvfb {
public:
    struct Options {
        std::string layouts;        // e.g. "us,de": the XKB groups, set with setxkbmap
        bool windowManager = false; // run openbox and wait until it manages the screen
        std::string screen = "1280x1024x24"; // width x height x depth
    };

    // Whether Xvfb is installed; a test that needs it skips when it is not.
    static bool available();

    QXXvfb() : QXXvfb(Options{}) {}
    explicit QXXvfb(const Options& options);
    ~QXXvfb();
    QXXvfb(const QXXvfb&) = delete;
    QXXvfb& operator=(const QXXvfb&) = delete;

    // Empty when the server (and what the options asked for) is up; otherwise what went
    // wrong, with the server's own output.
    const std::string& error() const { return m_error; }
    // ":N"
    const std::string& display() const { return m_display; }

private:
    bool startServer(const std::string& screen);
    bool setLayouts(const std::string& layouts);
    bool startWindowManager();
    std::string log() const;

    TempDir m_dir; // server log, the window manager's empty configuration folders
    std::string m_display;
    std::string m_error;
    pid_t m_server = -1;
    pid_t m_windowManager = -1;
    std::unique_ptr<ScopedEnv> m_env;
};

} // namespace qxtest
