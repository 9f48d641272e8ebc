#include "QXControlServer.h"

#include "QXLocalSocket.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

constexpr size_t kMaxRequest = 4096;
constexpr size_t kMaxClients = 16;

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
    : QObject(parent), m_handler(std::move(handler)) {}

QXControlServer::~QXControlServer() {
    close();
}

bool QXControlServer::listen(const std::filesystem::path& path, std::string& error) {
    m_listener = QXLocalSocket::listen(path, SOCK_STREAM, error);
    if (m_listener < 0)
        return false;
    m_acceptNotifier = new QSocketNotifier(m_listener, QSocketNotifier::Read, this);
    connect(m_acceptNotifier, &QSocketNotifier::activated, this, [this] { acceptPending(); });
    return true;
}

void QXControlServer::close() {
    while (!m_clients.empty())
        drop(m_clients.back().fd);
    if (m_acceptNotifier) {
        m_acceptNotifier->setEnabled(false);
        m_acceptNotifier->deleteLater();
        m_acceptNotifier = nullptr;
    }
    if (m_listener >= 0)
        ::close(m_listener);
    m_listener = -1;
}

void QXControlServer::acceptPending() {
    for (;;) {
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        // The socket file is the owner's alone already; the credentials make sure.
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
            peer.uid != ::geteuid() || m_clients.size() >= kMaxClients) {
            ::close(fd);
            continue;
        }
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this, fd] { readFrom(fd); });
        m_clients.push_back({fd, notifier, {}});
    }
}

void QXControlServer::readFrom(int fd) {
    auto it = std::find_if(m_clients.begin(), m_clients.end(),
                           [fd](const Client& c) { return c.fd == fd; });
    if (it == m_clients.end())
        return;
    char buffer[1024];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0) {
        drop(fd);
        return;
    }
    it->received.append(buffer, static_cast<size_t>(n));
    const size_t newline = it->received.find('\n');
    std::string answer;
    if (newline != std::string::npos) {
        std::string request = it->received.substr(0, newline);
        if (!request.empty() && request.back() == '\r')
            request.pop_back();
        answer = m_handler(request);
    } else if (it->received.size() > kMaxRequest) {
        answer = "error request too long";
    } else {
        return;
    }
    // One short line always fits the socket's buffer, so the non-blocking send completes.
    sendAll(fd, answer + "\n");
    drop(fd);
}

void QXControlServer::drop(int fd) {
    auto it = std::find_if(m_clients.begin(), m_clients.end(),
                           [fd](const Client& c) { return c.fd == fd; });
    if (it == m_clients.end())
        return;
    it->notifier->setEnabled(false);
    it->notifier->deleteLater();
    ::close(fd);
    m_clients.erase(it);
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
