#pragma once

#include <chrono>
#include <cstdint>

// The millisecond tick counter that periodic views measure their periods with: milliseconds
// of the monotonic clock (since boot), wrapping at 2^32, about every 49.7 days. Compare two
// values by their unsigned 32-bit difference, which stays right across the wrap.
inline uint32_t qxTickCount() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}
