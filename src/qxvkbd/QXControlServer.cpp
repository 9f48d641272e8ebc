#include "QXControlServer.h"

#include "platform/QXLocalSocket.h"

#include <cerrno>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

constexpr size_t kMaxRequest = 4096;
constexpr size_t kMaxClients = 16;
// A request line comes at once; a caller silent this long has gone away or never meant to
// ask anything.
constexpr int kIdleTimeoutMs = 5000;

bool sendAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

QXControlServer::QXControlServer(Handler handler, QObject* parent)
    : QXSocketServer(parent), m_handler(std::move(handler)) {
    setIdleTimeout(kIdleTimeoutMs);
    setMaxConnections(kMaxClients);
}

QXControlServer::~QXControlServer() = default;

bool QXControlServer::listen(const std::filesystem::path& path, std::string& error) {
    return QXSocketServer::listen(path, SOCK_STREAM, error);
}

bool QXControlServer::admit(int fd) {
    // The socket file is the owner's alone already; the credentials make sure.
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
           peer.uid == ::geteuid();
}

void QXControlServer::readable(int fd) {
    char buffer[1024];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0) {
        drop(fd);
        return;
    }
    std::string& received = m_received[fd];
    received.append(buffer, static_cast<size_t>(n));
    const size_t newline = received.find('\n');
    std::string answer;
    if (newline != std::string::npos) {
        std::string request = received.substr(0, newline);
        if (!request.empty() && request.back() == '\r')
            request.pop_back();
        answer = m_handler(request);
    } else if (received.size() > kMaxRequest) {
        answer = "error request too long";
    } else {
        return;
    }
    // One short line always fits the socket's buffer, so the non-blocking send completes.
    sendAll(fd, answer + "\n");
    drop(fd);
}

bool QXControlServer::request(const std::filesystem::path& path, const std::string& line,
                              std::string& answer, std::string& error, int timeoutSeconds) {
    const int fd = QXLocalSocket::connectTo(path, SOCK_STREAM, error);
    if (fd < 0)
        return false;
    ::timeval timeout{timeoutSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (!sendAll(fd, line + "\n")) {
        error = "the keyboard did not take the request";
        ::close(fd);
        return false;
    }
    answer.clear();
    char buffer[1024];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = "the keyboard did not answer";
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        answer.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    const size_t newline = answer.find('\n');
    if (newline == std::string::npos) {
        error = "the keyboard closed the connection without an answer";
        return false;
    }
    answer.resize(newline);
    return true;
}
