#include "QXReportServer.h"

#include "QXLocalSocket.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

QXReportServer::QXReportServer(QObject* parent) : QObject(parent) {}

QXReportServer::~QXReportServer() {
    close();
}

bool QXReportServer::listen(const std::filesystem::path& path, std::string& error) {
    m_listener = QXLocalSocket::listen(path, SOCK_SEQPACKET, error);
    if (m_listener < 0)
        return false;
    m_acceptNotifier = new QSocketNotifier(m_listener, QSocketNotifier::Read, this);
    connect(m_acceptNotifier, &QSocketNotifier::activated, this, [this] { acceptPending(); });
    return true;
}

void QXReportServer::close() {
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

void QXReportServer::acceptPending() {
    if (m_listener < 0)
        return;
    for (;;) {
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return; // EAGAIN: nobody else waiting
        }
        // The program never writes to the interface; readability means it hung up.
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this, fd] {
            char byte;
            const ssize_t n = ::recv(fd, &byte, sizeof byte, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
                drop(fd);
        });
        m_clients.push_back({fd, notifier});
    }
}

void QXReportServer::drop(int fd) {
    auto it = std::find_if(m_clients.begin(), m_clients.end(),
                           [fd](const Client& c) { return c.fd == fd; });
    if (it == m_clients.end())
        return;
    // The notifier may be the one whose signal is running: delete it later.
    it->notifier->setEnabled(false);
    it->notifier->deleteLater();
    ::close(fd);
    m_clients.erase(it);
}

int QXReportServer::send(std::span<const uint8_t> report) {
    acceptPending();
    int reached = 0;
    std::vector<int> gone;
    for (const Client& client : m_clients) {
        const ssize_t n =
            ::send(client.fd, report.data(), report.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n == ssize_t(report.size())) {
            ++reached;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A program that stopped reading loses reports, as it would with a real
            // interface whose reports nobody collects.
            std::fprintf(stderr, "qxvkbd: a connected program is not reading; report dropped\n");
        } else {
            gone.push_back(client.fd);
        }
    }
    for (int fd : gone)
        drop(fd);
    return reached;
}
