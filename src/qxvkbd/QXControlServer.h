#pragma once

#include "QXSocketServer.h"

#include <filesystem>
#include <functional>
#include <map>
#include <string>

// The running virtual keyboard's control socket ("control.sock" in its folder): a stream
// socket that only its owner may use. A client sends one request line, gets one answer
// line, and the connection is closed:
//
//   press <key name>\n     ->  ok <what reached the program>\n
//   snapshot <file>\n      ->  ok <file>\n              (answered once the file is written)
//   anything that fails   ->  error <reason>\n
//
// Requests are at most 4096 bytes; connections from other users are closed unanswered, a
// connection that sends no whole request within 5 seconds is closed, and of more than 16
// waiting connections the oldest is closed.
// GUI thread only; request() is the client side and blocks.
class QXControlServer : public QXSocketServer {
    Q_OBJECT
public:
    // Turns a request line (without its newline) into the answer line (without newline).
    using Handler = std::function<std::string(const std::string& request)>;

    explicit QXControlServer(Handler handler, QObject* parent = nullptr);
    ~QXControlServer() override;

    bool listen(const std::filesystem::path& path, std::string& error);

    // Client: sends one request and waits for the answer, up to timeoutSeconds. False with
    // a message when there is no server or no answer.
    static bool request(const std::filesystem::path& path, const std::string& line,
                        std::string& answer, std::string& error, int timeoutSeconds = 60);

private:
    bool admit(int fd) override;
    void readable(int fd) override;
    void dropped(int fd) override { m_received.erase(fd); }

    Handler m_handler;
    std::map<int, std::string> m_received; // what each connection sent so far
};
