#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace qxtest {

// A small HTTP/1.1 server on 127.0.0.1 for tests. It listens on a free port from
// construction to destruction, serves the routes it was given (anything else gets 404),
// answers each connection once and closes it, and records every request. Each connection
// is served on its own thread, so a held response does not block the others.
class QXHttpTestServer {
public:
    struct Response {
        int status = 200;
        std::string contentType; // no Content-Type header when empty
        std::vector<std::pair<std::string, std::string>> headers;
        std::string body;
        bool chunked = false;         // Transfer-Encoding: chunked
        bool noContentLength = false; // the body ends when the connection closes
        // A held response sends its headers and the first holdAfter bytes of the body,
        // then waits until releaseHeld() is called or the client goes away.
        bool hold = false;
        size_t holdAfter = 0;
        // A slow response sends the body in pieces of pieceSize bytes, pausing between them.
        size_t pieceSize = 0;
        std::chrono::milliseconds piecePause{0};
    };

    struct Request {
        std::string method;
        std::string target;                                       // path and query as sent
        std::vector<std::pair<std::string, std::string>> headers; // names in lower case
        // The value of the first header of that name (any case), or "".
        std::string header(std::string_view name) const;
    };

    // A port on 127.0.0.1 that refuses connections: a socket bound to it but not
    // listening, kept for the object's lifetime so that nothing else takes the port.
    class RefusingPort {
    public:
        RefusingPort();
        ~RefusingPort();
        RefusingPort(const RefusingPort&) = delete;
        RefusingPort& operator=(const RefusingPort&) = delete;
        uint16_t port() const { return m_port; }

    private:
        int m_fd = -1;
        uint16_t m_port = 0;
    };

    // Throws std::runtime_error when it cannot listen.
    QXHttpTestServer();
    // Stops listening, drops held responses and joins every thread.
    ~QXHttpTestServer();
    QXHttpTestServer(const QXHttpTestServer&) = delete;
    QXHttpTestServer& operator=(const QXHttpTestServer&) = delete;

    uint16_t port() const { return m_port; }
    // "http://127.0.0.1:<port><path>"
    std::string url(std::string_view path) const;

    // Routes match the request's path without its query.
    void setRoute(const std::string& path, Response response);
    // Lets every response held at this moment go on.
    void releaseHeld();

    int requestCount() const;
    int requestCount(std::string_view path) const;
    std::vector<Request> requests() const;
    // Responses waiting in their hold right now.
    int heldCount() const;
    // Responses whose client closed the connection before the whole body was sent.
    int abandonedCount() const;

private:
    void acceptLoop();
    void serve(int fd);
    bool readRequest(int fd, Request& request);
    bool sendBody(int fd, const Response& response, std::string_view body);
    bool holdUntilReleased(int fd);
    bool sendAll(int fd, std::string_view data);
    bool pause(std::chrono::milliseconds time);

    int m_listenFd = -1;
    int m_wakePipe[2] = {-1, -1};
    uint16_t m_port = 0;
    std::thread m_acceptThread;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stopping = false;
    std::map<std::string, Response> m_routes;
    std::vector<Request> m_requests;
    std::list<std::thread> m_connections;
    std::set<int> m_openFds;
    uint64_t m_releaseGeneration = 0;
    int m_held = 0;
    int m_abandoned = 0;
};

} // namespace qxtest
