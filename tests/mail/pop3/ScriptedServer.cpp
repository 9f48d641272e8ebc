// A scripted TCP peer on 127.0.0.1 for the POP3 client's tests.
#include "ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int kWaitMs = 20000;

bool readable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, kWaitMs) > 0;
}
} // namespace

bool ScriptedServer::Peer::send(const std::string& text) {
    std::size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = ::send(m_fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::string ScriptedServer::Peer::readLine() {
    for (;;) {
        const std::size_t end = m_pending.find("\r\n");
        if (end != std::string::npos) {
            std::string line = m_pending.substr(0, end + 2);
            m_pending.erase(0, end + 2);
            return line;
        }
        char buffer[1024];
        if (!readable(m_fd))
            return {};
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return {};
        m_pending.append(buffer, static_cast<std::size_t>(n));
    }
}

void ScriptedServer::Peer::waitForClose() {
    char buffer[1024];
    while (readable(m_fd) && ::recv(m_fd, buffer, sizeof buffer, 0) > 0) {
    }
}

ScriptedServer::ScriptedServer(std::function<void(Peer&)> script) {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(m_listener, 1) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this, script = std::move(script)] {
        if (!readable(m_listener))
            return;
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        Peer peer(fd);
        script(peer);
        ::close(fd);
    });
}

ScriptedServer::~ScriptedServer() {
    finish();
    ::close(m_listener);
}

void ScriptedServer::finish() {
    if (m_thread.joinable())
        m_thread.join();
}

std::u16string ScriptedServer::address() const {
    const std::string text = "127.0.0.1:" + std::to_string(m_port);
    return std::u16string(text.begin(), text.end());
}
