#pragma once

#include "hook/qxhk.h"

#include <cstdint>
#include <mutex>

// Where the hook reports to: the program's opaque target and its post function. Posts
// come from the hook thread, clear() from the thread that unhooks. The mutex is held
// while a message is handed over, so once clear() has returned no post is under way
// and none follows.
class QXHookTarget {
public:
    void set(void* target, QXHookPostFunction postFunction) {
        std::lock_guard lock(m_mutex);
        m_target = target;
        m_post = postFunction;
    }

    void clear() { set(nullptr, nullptr); }

    void post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
        std::lock_guard lock(m_mutex);
        if (m_target && m_post)
            m_post(m_target, message, wParam, lParam);
    }

private:
    std::mutex m_mutex;
    void* m_target = nullptr;
    QXHookPostFunction m_post = nullptr;
};
