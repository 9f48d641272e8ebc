#include "QXSocketServer.h"

#include "QXLocalSocket.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

QXSocketServer::QXSocketServer(QObject* parent) : QObject(parent) {}

QXSocketServer::~QXSocketServer() {
    close();
}

bool QXSocketServer::listen(const std::filesystem::path& path, int type, std::string& error) {
    m_listener = QXLocalSocket::listen(path, type, error);
    if (m_listener < 0)
        return false;
    m_acceptNotifier = new QSocketNotifier(m_listener, QSocketNotifier::Read, this);
    connect(m_acceptNotifier, &QSocketNotifier::activated, this, [this] { acceptPending(); });
    return true;
}

void QXSocketServer::close() {
    while (!m_watched.empty())
        drop(m_watched.back().fd);
    if (m_acceptNotifier) {
        m_acceptNotifier->setEnabled(false);
        m_acceptNotifier->deleteLater();
        m_acceptNotifier = nullptr;
    }
    if (m_listener >= 0)
        ::close(m_listener);
    m_listener = -1;
}

void QXSocketServer::acceptPending() {
    if (m_listener < 0)
        return;
    for (;;) {
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return; // EAGAIN: nobody else waiting
        }
        if (!admit(fd)) {
            ::close(fd);
            continue;
        }
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this, fd] { readable(fd); });
        m_watched.push_back({fd, notifier});
        m_connections.push_back(fd);
    }
}

void QXSocketServer::drop(int fd) {
    auto it = std::find_if(m_watched.begin(), m_watched.end(),
                           [fd](const Connection& c) { return c.fd == fd; });
    if (it == m_watched.end())
        return;
    // The notifier may be the one whose signal is running: delete it later.
    it->notifier->setEnabled(false);
    it->notifier->deleteLater();
    ::close(fd);
    m_watched.erase(it);
    std::erase(m_connections, fd);
    dropped(fd);
}
