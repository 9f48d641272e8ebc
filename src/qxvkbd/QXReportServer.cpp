#include "QXReportServer.h"

#include "platform/QXLog.h"

#include <cerrno>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

QXReportServer::QXReportServer(QObject* parent) : QXSocketServer(parent) {}

QXReportServer::~QXReportServer() = default;

bool QXReportServer::listen(const std::filesystem::path& path, std::string& error) {
    return QXSocketServer::listen(path, SOCK_SEQPACKET, error);
}

// The program never writes to the interface; readability means it hung up.
void QXReportServer::readable(int fd) {
    char byte;
    const ssize_t n = ::recv(fd, &byte, sizeof byte, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
        drop(fd);
}

int QXReportServer::send(std::span<const uint8_t> report) {
    acceptPending();
    int reached = 0;
    std::vector<int> gone;
    for (int client : connections()) {
        const ssize_t n =
            ::send(client, report.data(), report.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n == ssize_t(report.size())) {
            ++reached;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A program that stopped reading loses reports, as it would with a real
            // interface whose reports nobody collects.
            QXLog::warning(QXLog::kDevice, "a connected program is not reading; report dropped");
        } else {
            gone.push_back(client);
        }
    }
    for (int fd : gone)
        drop(fd);
    return reached;
}
