#include "hook/QXProcessWatcher.h"

#include <algorithm>
#include <dirent.h>
#include <iterator>

QXProcessWatcher::QXProcessWatcher(std::filesystem::path proc) : m_proc(std::move(proc)) {}

void QXProcessWatcher::reset() {
    m_pids = scan();
}

void QXProcessWatcher::rescan(const std::function<void(bool, pid_t)>& report) {
    std::vector<pid_t> now = scan();
    std::vector<pid_t> started, ended;
    std::set_difference(now.begin(), now.end(), m_pids.begin(), m_pids.end(),
                        std::back_inserter(started));
    std::set_difference(m_pids.begin(), m_pids.end(), now.begin(), now.end(),
                        std::back_inserter(ended));
    m_pids = std::move(now);
    for (pid_t pid : started)
        report(true, pid);
    for (pid_t pid : ended)
        report(false, pid);
}

// Plain readdir: this runs on every rescan, and an unreadable /proc is simply empty.
std::vector<pid_t> QXProcessWatcher::scan() const {
    std::vector<pid_t> pids;
    DIR* dir = ::opendir(m_proc.c_str());
    if (!dir)
        return pids;
    while (const dirent* entry = ::readdir(dir)) {
        pid_t pid = 0;
        const char* c = entry->d_name;
        for (; *c >= '0' && *c <= '9' && pid < 100000000; ++c)
            pid = pid * 10 + (*c - '0');
        if (*c == '\0' && pid > 0)
            pids.push_back(pid);
    }
    ::closedir(dir);
    std::sort(pids.begin(), pids.end());
    return pids;
}
