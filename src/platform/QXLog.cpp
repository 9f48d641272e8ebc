#include "platform/QXLog.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace {

struct LogState {
    std::recursive_mutex mutex;
    QXLog::Sink sink;
    std::map<int, QXLog::Sink> observers;
    int nextId = 1;
};

LogState& state() {
    static LogState s;
    return s;
}

} // namespace

namespace QXLog {

bool debugEnabled() {
    static const bool enabled = [] {
        const char* value = std::getenv("QX_DEBUG");
        return value && *value && std::strcmp(value, "0") != 0;
    }();
    return enabled;
}

void writeToStandardError(QXLogLevel, const char*, std::string_view message) {
    std::string line = program_invocation_short_name;
    line += ": ";
    line += message;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void write(QXLogLevel level, const char* category, std::string_view message) {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    // A Qt sink decides debug output by its own rules; the default one by QX_DEBUG.
    if (s.sink)
        s.sink(level, category, message);
    else if (level != QXLogLevel::Debug || debugEnabled())
        writeToStandardError(level, category, message);
    if (level >= QXLogLevel::Warning)
        for (auto& [id, observer] : s.observers)
            observer(level, category, message);
}

Sink setSink(Sink sink) {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    std::swap(s.sink, sink);
    return sink;
}

int addObserver(Sink observer) {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    int id = s.nextId++;
    s.observers[id] = std::move(observer);
    return id;
}

void removeObserver(int id) {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    s.observers.erase(id);
}

} // namespace QXLog
