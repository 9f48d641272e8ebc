#pragma once

#include <string>

// Top-level windows made by the test on an X display, over a connection of its own. No
// Xlib types here: test files include Qt headers.
class QXTestWindows {
public:
    explicit QXTestWindows(const std::string& display);
    ~QXTestWindows();
    QXTestWindows(const QXTestWindows&) = delete;
    QXTestWindows& operator=(const QXTestWindows&) = delete;

    bool ok() const { return m_display != nullptr; }

    // A window with _NET_WM_PID set when pid > 0 and WM_CLIENT_MACHINE when machine is
    // given. Returns its X window id.
    unsigned long create(long pid, const char* machine = nullptr);
    void destroy(unsigned long window);
    // The windows outlive this connection (until the server ends).
    void keepWindows();

private:
    void* m_display = nullptr; // Display*
};
