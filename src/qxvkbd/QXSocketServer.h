#pragma once

#include <QObject>
#include <filesystem>
#include <string>
#include <vector>

class QSocketNotifier;
class QTimer;

// A listening local socket on the GUI thread and the connections it accepted, each
// watched for readability. Subclasses say whom they take in and what to do when a
// connection has something to read (or hung up). Out of file handles, the server rests
// a moment and accepts again: the waiting callers stay queued, the listener stays open.
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

    // Connections that stay quiet this long are closed (0: never). Only connections
    // accepted afterwards are timed.
    void setIdleTimeout(int milliseconds) { m_idleTimeoutMs = milliseconds; }
    // At most this many connections at once (0: no limit); a new caller beyond it takes
    // the place of the one that has waited longest, so idle callers cannot lock others out.
    void setMaxConnections(size_t count) { m_maxConnections = count; }

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
        QTimer* idleTimer; // nullptr without an idle time-out
    };

    void resumeAccepting();

    int m_listener = -1;
    int m_idleTimeoutMs = 0;
    size_t m_maxConnections = 0;
    QSocketNotifier* m_acceptNotifier = nullptr;
    QTimer* m_resumeTimer = nullptr;
    bool m_outOfHandles = false; // said once per spell
    std::vector<Connection> m_watched;
    std::vector<int> m_connections;
};
