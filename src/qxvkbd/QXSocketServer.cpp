#include "QXSocketServer.h"

#include "platform/QXLocalSocket.h"
#include "platform/QXLog.h"

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
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
    auto* resume = new QTimer(this);
    resume->setSingleShot(true);
    connect(resume, &QTimer::timeout, this, [this] { resumeAccepting(); });
    m_resumeTimer = resume;
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
    delete m_resumeTimer;
    m_resumeTimer = nullptr;
    if (m_listener >= 0)
        ::close(m_listener);
    m_listener = -1;
}

void QXSocketServer::acceptPending() {
    if (m_listener < 0 || !m_acceptNotifier->isEnabled())
        return; // resting after running out of handles
    for (;;) {
        int fd = -1;
        const QXLocalSocket::Accepted accepted = QXLocalSocket::accept(m_listener, fd);
        if (accepted == QXLocalSocket::Accepted::None)
            return;
        if (accepted != QXLocalSocket::Accepted::Connection) {
            // The listener stays readable while callers wait: rest instead of spinning.
            if (!m_outOfHandles)
                QXLog::warning(QXLog::kDevice, accepted == QXLocalSocket::Accepted::OutOfHandles
                    ? "out of file handles: callers wait until some are free"
                    : "cannot accept a caller now ("
                      + std::string(std::strerror(errno)) + "); trying again shortly");
            m_outOfHandles = true;
            m_acceptNotifier->setEnabled(false);
            m_resumeTimer->start(QXLocalSocket::kOutOfHandlesPauseMs);
            return;
        }
        m_outOfHandles = false;
        if (!admit(fd)) {
            ::close(fd);
            continue;
        }
        if (m_maxConnections > 0 && m_watched.size() >= m_maxConnections)
            drop(m_watched.front().fd);
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this, fd] { readable(fd); });
        QTimer* idle = nullptr;
        if (m_idleTimeoutMs > 0) {
            idle = new QTimer(this);
            idle->setSingleShot(true);
            connect(idle, &QTimer::timeout, this, [this, fd] { drop(fd); });
            idle->start(m_idleTimeoutMs);
        }
        m_watched.push_back({fd, notifier, idle});
        m_connections.push_back(fd);
    }
}

void QXSocketServer::resumeAccepting() {
    if (m_acceptNotifier) {
        m_acceptNotifier->setEnabled(true);
        acceptPending();
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
    if (it->idleTimer) {
        it->idleTimer->stop();
        it->idleTimer->deleteLater();
    }
    ::close(fd);
    m_watched.erase(it);
    std::erase(m_connections, fd);
    dropped(fd);
}
