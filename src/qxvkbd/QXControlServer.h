#pragma once

#include <QObject>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

class QSocketNotifier;

// The running virtual keyboard's control socket ("control.sock" in its folder): a stream
// socket that only its owner may use. A client sends one request line, gets one answer
// line, and the connection is closed:
//
//   press <key name>\n     ->  ok <what reached the program>\n
//   snapshot <file>\n      ->  ok <file>\n              (answered once the file is written)
//   anything that fails   ->  error <reason>\n
//
// Requests are at most 4096 bytes; connections from other users are closed unanswered.
// GUI thread only; request() is the client side and blocks.
class QXControlServer : public QObject {
    Q_OBJECT
public:
    // Turns a request line (without its newline) into the answer line (without newline).
    using Handler = std::function<std::string(const std::string& request)>;

    explicit QXControlServer(Handler handler, QObject* parent = nullptr);
    ~QXControlServer() override;

    bool listen(const std::filesystem::path& path, std::string& error);
    void close();

    // Client: sends one request and waits for the answer, up to timeoutSeconds. False with
    // a message when there is no server or no answer.
    static bool request(const std::filesystem::path& path, const std::string& line,
                        std::string& answer, std::string& error, int timeoutSeconds = 60);

private:
    struct Client {
        int fd;
        QSocketNotifier* notifier;
        std::string received;
    };

    void acceptPending();
    void readFrom(int fd);
    void drop(int fd);

    Handler m_handler;
    int m_listener = -1;
    QSocketNotifier* m_acceptNotifier = nullptr;
    std::vector<Client> m_clients;
};
