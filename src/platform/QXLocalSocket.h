#pragma once

#include <filesystem>
#include <string>

// Local (Unix domain) sockets by path, as the virtual keyboard and the single-instance
// hand-over use them.
namespace QXLocalSocket {

// A non-blocking socket of the given type (SOCK_SEQPACKET, SOCK_STREAM) listening at
// path, readable and writable by its owner only; -1 with a message on failure.
int listen(const std::filesystem::path& path, int type, std::string& error);

// What one accept on a non-blocking listening socket gave.
enum class Accepted {
    Connection,  // fd holds a new non-blocking connection
    None,        // nobody is waiting
    OutOfHandles, // the process or the system has no file handle (or memory) to spare
    Failed        // another error
    // After either the caller waits a while before trying again (the listener may stay
    // readable, so trying at once would spin); queued connections stay queued.
};
Accepted accept(int listener, int& fd);

// How long a listener rests after running out of handles before it accepts again.
inline constexpr int kOutOfHandlesPauseMs = 200;

// A blocking socket connected to path; -1 with a message on failure.
int connectTo(const std::filesystem::path& path, int type, std::string& error);

} // namespace QXLocalSocket
