#include "support/QXHttpTestServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace qxtest {

namespace {

constexpr size_t kMaxRequestHead = 64 * 1024;

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

const char* reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 304:
        return "Not Modified";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

int loopbackSocket(uint16_t& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

} // namespace

std::string QXHttpTestServer::Request::header(std::string_view name) const {
    std::string key = lowered(name);
    for (const auto& [headerName, value] : headers)
        if (headerName == key)
            return value;
    return {};
}

QXHttpTestServer::RefusingPort::RefusingPort() {
    m_fd = loopbackSocket(m_port);
    if (m_fd < 0)
        throw std::runtime_error("cannot bind a socket on 127.0.0.1");
}

QXHttpTestServer::RefusingPort::~RefusingPort() {
    ::close(m_fd);
}

QXHttpTestServer::QXHttpTestServer() {
    m_listenFd = loopbackSocket(m_port);
    if (m_listenFd < 0 || ::listen(m_listenFd, 64) != 0 || ::pipe2(m_wakePipe, O_CLOEXEC) != 0) {
        if (m_listenFd >= 0)
            ::close(m_listenFd);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

QXHttpTestServer::~QXHttpTestServer() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        // Unblocks connection threads waiting for a request that will never come.
        for (int fd : m_openFds)
            ::shutdown(fd, SHUT_RDWR);
    }
    m_changed.notify_all();
    char byte = 0;
    [[maybe_unused]] ssize_t written = ::write(m_wakePipe[1], &byte, 1);
    m_acceptThread.join();
    // No new connection threads appear once the accept thread has ended.
    for (std::thread& connection : m_connections)
        connection.join();
    ::close(m_listenFd);
    ::close(m_wakePipe[0]);
    ::close(m_wakePipe[1]);
}

std::string QXHttpTestServer::url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + std::string(path);
}

void QXHttpTestServer::setRoute(const std::string& path, Response response) {
    std::lock_guard lock(m_mutex);
    m_routes[path] = std::move(response);
}

void QXHttpTestServer::releaseHeld() {
    {
        std::lock_guard lock(m_mutex);
        ++m_releaseGeneration;
    }
    m_changed.notify_all();
}

int QXHttpTestServer::requestCount() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_requests.size());
}

int QXHttpTestServer::requestCount(std::string_view path) const {
    std::lock_guard lock(m_mutex);
    int count = 0;
    for (const Request& request : m_requests)
        if (request.target.substr(0, request.target.find('?')) == path)
            ++count;
    return count;
}

std::vector<QXHttpTestServer::Request> QXHttpTestServer::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

int QXHttpTestServer::heldCount() const {
    std::lock_guard lock(m_mutex);
    return m_held;
}

int QXHttpTestServer::abandonedCount() const {
    std::lock_guard lock(m_mutex);
    return m_abandoned;
}

void QXHttpTestServer::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard lock(m_mutex);
        if (m_stopping) {
            ::close(fd);
            return;
        }
        m_openFds.insert(fd);
        m_connections.emplace_back([this, fd] { serve(fd); });
    }
}

void QXHttpTestServer::serve(int fd) {
    Request request;
    Response response;
    if (readRequest(fd, request)) {
        std::string path = request.target.substr(0, request.target.find('?'));
        bool found;
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(request);
            auto it = m_routes.find(path);
            found = it != m_routes.end();
            if (found)
                response = it->second;
        }
        if (!found) {
            response.status = 404;
            response.contentType = "text/plain";
            response.body = "not found";
        }
        std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " +
                           reasonPhrase(response.status) + "\r\n";
        if (!response.contentType.empty())
            head += "Content-Type: " + response.contentType + "\r\n";
        for (const auto& [name, value] : response.headers)
            head += name + ": " + value + "\r\n";
        if (response.chunked)
            head += "Transfer-Encoding: chunked\r\n";
        else if (!response.noContentLength)
            head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
        head += "Connection: close\r\n\r\n";
        bool complete = sendAll(fd, head);
        std::string_view body = response.body;
        if (complete && response.hold) {
            size_t first = std::min(response.holdAfter, body.size());
            complete = sendBody(fd, response, body.substr(0, first)) && holdUntilReleased(fd);
            body.remove_prefix(first);
        }
        complete = complete && sendBody(fd, response, body) &&
                   (!response.chunked || sendAll(fd, "0\r\n\r\n"));
        std::lock_guard lock(m_mutex);
        if (!complete && !m_stopping)
            ++m_abandoned;
    }
    std::lock_guard lock(m_mutex);
    m_openFds.erase(fd);
    ::close(fd);
}

bool QXHttpTestServer::readRequest(int fd, Request& request) {
    std::string head;
    char buffer[4096];
    size_t end;
    while ((end = head.find("\r\n\r\n")) == std::string::npos) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || head.size() > kMaxRequestHead)
            return false;
        head.append(buffer, static_cast<size_t>(n));
    }
    std::string_view rest(head.data(), end + 2);
    auto nextLine = [&rest] {
        size_t eol = rest.find("\r\n");
        std::string_view line = rest.substr(0, eol);
        rest.remove_prefix(eol + 2);
        return line;
    };
    std::string_view requestLine = nextLine();
    size_t space1 = requestLine.find(' ');
    size_t space2 = requestLine.find(' ', space1 + 1);
    if (space1 == std::string_view::npos || space2 == std::string_view::npos)
        return false;
    request.method = requestLine.substr(0, space1);
    request.target = requestLine.substr(space1 + 1, space2 - space1 - 1);
    while (!rest.empty()) {
        std::string_view line = nextLine();
        size_t colon = line.find(':');
        if (colon != std::string_view::npos)
            request.headers.emplace_back(lowered(trimmed(line.substr(0, colon))),
                                         std::string(trimmed(line.substr(colon + 1))));
    }
    return true;
}

bool QXHttpTestServer::sendBody(int fd, const Response& response, std::string_view body) {
    size_t pieceSize = response.pieceSize ? response.pieceSize : body.size();
    while (!body.empty()) {
        std::string_view piece = body.substr(0, pieceSize);
        bool ok = response.chunked
                      ? sendAll(fd,
                                [&] {
                                    char size[32];
                                    std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
                                    return std::string(size) + std::string(piece) + "\r\n";
                                }())
                      : sendAll(fd, piece);
        if (!ok)
            return false;
        body.remove_prefix(piece.size());
        if (!body.empty() && response.piecePause.count() > 0 && !pause(response.piecePause))
            return false;
    }
    return true;
}

// Waits for releaseHeld() while watching the connection, so that a client that gives up
// is noticed (and counted as abandoned) without any data being sent.
bool QXHttpTestServer::holdUntilReleased(int fd) {
    std::unique_lock lock(m_mutex);
    uint64_t generation = m_releaseGeneration;
    ++m_held;
    bool released = false;
    while (!m_stopping) {
        if (m_releaseGeneration != generation) {
            released = true;
            break;
        }
        lock.unlock();
        pollfd watched{fd, POLLIN | POLLRDHUP, 0};
        int ready = ::poll(&watched, 1, 10);
        lock.lock();
        if (ready > 0 && (watched.revents & (POLLRDHUP | POLLHUP | POLLERR)))
            break;
        if (ready > 0 && (watched.revents & POLLIN)) {
            char scratch[512];
            if (::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT) == 0)
                break;
        }
    }
    --m_held;
    return released;
}

bool QXHttpTestServer::sendAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool QXHttpTestServer::pause(std::chrono::milliseconds time) {
    std::unique_lock lock(m_mutex);
    return !m_changed.wait_for(lock, time, [this] { return m_stopping; });
}

} // namespace qxtest
