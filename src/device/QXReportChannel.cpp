#include "device/QXReportChannel.h"

#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int openReportChannel(const std::string& path) {
    static const std::string kUnix = "unix:";
    if (path.rfind(kUnix, 0) != 0)
        return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const std::string socketPath = path.substr(kUnix.size());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size());
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    // Connecting a local socket completes at once or fails.
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}
