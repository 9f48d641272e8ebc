#pragma once

#include <utility>

// Every call into plug-in code goes through one of these: whatever a plug-in throws
// must not unwind through the program, so it is swallowed and the call counts as having
// given the fallback (null for factories and controllers, 0 for windows and flags).
template <class R, class F> R guardedCall(R fallback, F&& call) noexcept {
    try {
        return std::forward<F>(call)();
    } catch (...) {
        return fallback;
    }
}

template <class F> void guardedCall(F&& call) noexcept {
    try {
        std::forward<F>(call)();
    } catch (...) {
    }
}
