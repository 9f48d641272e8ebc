#pragma once

#include <atomic>
#include <memory>

class QXHookTarget;

// One watch of the X session: a connection of its own and one thread that waits on it
// and reports to the target. Created and destroyed by Hook and UnHook, which serialise
// that; the thread is the only writer of the mask while the session lives.
class QXHookSession {
public:
    // Stops the thread, waits for it to end and closes the connection.
    virtual ~QXHookSession() = default;

    // Connects to $DISPLAY, selects what the hook watches, stores the current system
    // mask in mask and starts the thread. Everything is selected on the server before
    // this returns, so input that follows is seen. nullptr when there is no display.
    static std::unique_ptr<QXHookSession> start(QXHookTarget& target, std::atomic<long>& mask);
};
