#pragma once

#include <QObject>
#include <filesystem>
#include <string>
#include <vector>

class QSocketNotifier;

// A listening local socket on the GUI thread and the connections it accepted, each
// watched for readability. Subclasses say whom they take in and what to do when a
// connection has something to read (or hung up).
class QXSocketServer : public QObject {
    Q_OBJECT
public:
    ~QXSocketServer() override;

    // Binds and listens at path (type SOCK_STREAM or SOCK_SEQPACKET); false with a
    // message when that fails.
    bool listen(const std::filesystem::path& path, int type, std::string& error);
    // Stops listening and lets every connection go.
    void close();

protected:
    explicit QXSocketServer(QObject* parent);

    // Takes in every connection waiting to be accepted that admit() agrees to.
    void acceptPending();
    // Closes one connection; safe from within its own readable() call.
    void drop(int fd);
    const std::vector<int>& connections() const { return m_connections; }

    virtual bool admit(int fd) = 0;
    virtual void readable(int fd) = 0;
    virtual void dropped(int fd) { (void)fd; }

private:
    struct Connection {
        int fd;
        QSocketNotifier* notifier;
    };

    int m_listener = -1;
    QSocketNotifier* m_acceptNotifier = nullptr;
    std::vector<Connection> m_watched;
    std::vector<int> m_connections;
};
