#include "platform/QXLocalSocket.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace QXLocalSocket {

namespace {

bool address(const std::filesystem::path& path, sockaddr_un& out, std::string& error) {
    out = {};
    out.sun_family = AF_UNIX;
    const std::string& text = path.native();
    if (text.size() >= sizeof out.sun_path) {
        error = "socket path too long (at most " + std::to_string(sizeof out.sun_path - 1) +
                " bytes): " + text;
        return false;
    }
    std::memcpy(out.sun_path, text.c_str(), text.size());
    return true;
}

} // namespace

int listen(const std::filesystem::path& path, int type, std::string& error) {
    sockaddr_un where;
    if (!address(path, where, error))
        return -1;
    const int fd = ::socket(AF_UNIX, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = "cannot create a socket: " + std::string(std::strerror(errno));
        return -1;
    }
    // The socket file takes its mode from the umask at bind time.
    const mode_t old = ::umask(0077);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
    const int bindErrno = errno;
    ::umask(old);
    if (!bound || ::listen(fd, 16) != 0) {
        error =
            "cannot listen at " + path.string() + ": " + std::strerror(bound ? errno : bindErrno);
        ::close(fd);
        return -1;
    }
    return fd;
}

Accepted accept(int listener, int& fd) {
    for (;;) {
        fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0)
            return Accepted::Connection;
        switch (errno) {
        case EINTR:
        case ECONNABORTED: // the caller gave up while queued: look at the next one
            continue;
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM:
            return Accepted::OutOfHandles;
        case EAGAIN:
            return Accepted::None;
        default:
            return Accepted::Failed;
        }
    }
}

int connectTo(const std::filesystem::path& path, int type, std::string& error) {
    sockaddr_un where;
    if (!address(path, where, error))
        return -1;
    const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = "cannot create a socket: " + std::string(std::strerror(errno));
        return -1;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace QXLocalSocket
