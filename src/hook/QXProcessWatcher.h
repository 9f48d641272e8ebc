#pragma once

#include <filesystem>
#include <functional>
#include <sys/types.h>
#include <vector>

// The set of running processes, read from /proc. Not thread-safe: the hook thread owns
// it.
class QXProcessWatcher {
public:
    explicit QXProcessWatcher(std::filesystem::path proc = "/proc");

    // Takes the processes running now as known, without reporting them.
    void reset();

    // Reads the processes again and reports the difference: report(true, pid) for each
    // process that appeared, then report(false, pid) for each one that ended. A process
    // that both started and ended between two scans is never seen.
    void rescan(const std::function<void(bool started, pid_t pid)>& report);

private:
    std::vector<pid_t> scan() const;

    std::filesystem::path m_proc;
    std::vector<pid_t> m_pids; // sorted
};
