#pragma once

#include <functional>
#include <string>
#include <string_view>

// The program's one logging facility below Qt. Messages carry a category ("qx.store",
// "qx.device", ...) with the same names as the Qt parts' QLoggingCategory objects, and
// go to one sink: by default standard error as "<program>: <message>"; the Qt program
// routes them into Qt's categorized logging (QXQtLog), so one setting governs both.
//
// Warnings are what a user should know about: a file kept aside, a save that failed, a
// picture refused. Debug messages are written only when the environment variable
// QX_DEBUG is set (to anything but "0"); Qt's own rules (QT_LOGGING_RULES) can also turn
// on single categories in the Qt program.
//
// Thread-safe: the sink is called under a lock, one message at a time.

enum class QXLogLevel { Debug, Info, Warning, Critical };

namespace QXLog {

inline constexpr const char* kStore = "qx.store";
inline constexpr const char* kModel = "qx.model";
inline constexpr const char* kDevice = "qx.device";
inline constexpr const char* kPlatform = "qx.platform";
inline constexpr const char* kApp = "qx.app";
inline constexpr const char* kPlugins = "qx.pluginhost";
inline constexpr const char* kEditor = "qx.editor";

using Sink = std::function<void(QXLogLevel, const char* category, std::string_view message)>;

void write(QXLogLevel level, const char* category, std::string_view message);
inline void debug(const char* category, std::string_view message) {
    write(QXLogLevel::Debug, category, message);
}
inline void info(const char* category, std::string_view message) {
    write(QXLogLevel::Info, category, message);
}
inline void warning(const char* category, std::string_view message) {
    write(QXLogLevel::Warning, category, message);
}

// True when debug output was asked for (QX_DEBUG).
bool debugEnabled();

// Replaces the sink; an empty one restores standard error. Returns the previous sink.
Sink setSink(Sink sink);

// Observers see every message of Warning level or above as well, after the sink (the
// tray program collects what the user should be told). Returns an id for removeObserver.
int addObserver(Sink observer);
void removeObserver(int id);

// The default sink's line: "<program>: <message>".
void writeToStandardError(QXLogLevel level, const char* category, std::string_view message);

} // namespace QXLog
