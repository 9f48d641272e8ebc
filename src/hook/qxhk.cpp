#include "hook/qxhk.h"

#include "hook/QXHookSession.h"
#include "hook/QXHookTarget.h"
#include "hook/QXXErrorTrap.h"
#include "hook/QXXkbState.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace {

// The library's shared state. The mask is written by the hook thread (and by Hook) and
// read by anyone; the session is created and destroyed under g_lifecycle.
std::atomic<long> g_mask{0};
QXHookTarget g_target;
std::mutex g_lifecycle;
std::unique_ptr<QXHookSession> g_session;

} // namespace

extern "C" {

QXHK_API int Hook(void* target, QXHookPostFunction post) {
    std::lock_guard lock(g_lifecycle);
    if (g_session)
        return 0;
    // The target is in place before the thread starts, so nothing it sees is lost.
    g_target.set(target, post);
    try {
        g_session = QXHookSession::start(g_target, g_mask);
    } catch (...) {
        // No thread or memory to be had: the program runs without the hook.
        g_session.reset();
    }
    if (!g_session) {
        g_target.clear();
        g_mask.store(0);
        return 0;
    }
    return 1;
}

QXHK_API void UnHook() {
    std::lock_guard lock(g_lifecycle);
    g_target.clear();
    g_session.reset();
}

QXHK_API long GetHookModifiersState() {
    return g_mask.load();
}

QXHK_API long GetSystemModifiersState() {
    QXXErrorScope scope;
    QXXConnection connection;
    return connection.display() ? long(readSystemModifiers(connection.display())) : 0;
}

} // extern "C"
