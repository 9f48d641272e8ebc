#include "app/QXSingleInstance.h"

#include "platform/QXDispatch.h"
#include "platform/QXFolders.h"
#include "platform/QXLocalSocket.h"
#include "platform/QXLog.h"
#include "platform/QXMessages.h"
#include "platform/QXText.h"

#include <QSocketNotifier>
#include <QLocalSocket>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The lock's fixed name; it never changes between versions.
constexpr const char* kLockName = "QUADRIXMANAGER-4E1B7C3A-92D5-4F68-A0C1-6B3D8E2F7A95";
constexpr const char* kWindowName = "QXDispatch Window";

// A hand-over frame: "QXD1", message, dwData, payload size (little-endian 32-bit
// each), then the payload.
constexpr char kMagic[4] = {'Q', 'X', 'D', '1'};
constexpr size_t kHeaderSize = 16;
constexpr int kIoTimeoutMs = 5000;
constexpr int kAnswerTimeoutMs = 30000;

void putUint32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

uint32_t getUint32(const char* p) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(p[i]);
    return v;
}

bool fillAddress(const fs::path& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.native().size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.native().size());
    return true;
}

// A connected socket, or -1. The wait for a place in a busy copy's queue is bounded too.
int connectTo(const fs::path& path) {
    sockaddr_un address;
    if (!fillAddress(path, address))
        return -1;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const timeval timeout{kIoTimeoutMs / 1000, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool writeAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, kIoTimeoutMs) <= 0)
            return false;
        ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

// The first copy's listening side, on the GUI thread. Out of file handles it rests a
// moment and accepts again; callers wait in the queue meanwhile, and the socket stays.
class QXHandOverServer : public QObject {
public:
    QXHandOverServer(QXDispatch& dispatch, const fs::path& path) : m_dispatch(dispatch) {
        ::unlink(path.c_str()); // left by a copy that crashed: this one holds the lock
        std::string error;
        m_listener = QXLocalSocket::listen(path, SOCK_STREAM, error);
        if (m_listener < 0) {
            QXLog::warning(QXLog::kApp, "later starts cannot hand over to this one: " + error);
            return;
        }
        m_notifier = new QSocketNotifier(m_listener, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] { accept(); });
        m_resume.setSingleShot(true);
        connect(&m_resume, &QTimer::timeout, this, [this] {
            m_notifier->setEnabled(true);
            accept();
        });
    }
    ~QXHandOverServer() override {
        // Callers still connected go first, while their buffers' clean-up is connected.
        qDeleteAll(findChildren<QLocalSocket*>(Qt::FindDirectChildrenOnly));
        delete m_notifier;
        if (m_listener >= 0)
            ::close(m_listener);
    }

    bool listening() const { return m_listener >= 0; }

private:
    void accept() {
        for (;;) {
            int fd = -1;
            const QXLocalSocket::Accepted accepted = QXLocalSocket::accept(m_listener, fd);
            if (accepted == QXLocalSocket::Accepted::None)
                return;
            if (accepted != QXLocalSocket::Accepted::Connection) {
                if (!m_outOfHandles)
                    QXLog::warning(QXLog::kApp, accepted == QXLocalSocket::Accepted::OutOfHandles
                        ? "out of file handles: later starts wait until some are free"
                        : "cannot accept a caller now ("
                          + std::string(std::strerror(errno)) + "); trying again shortly");
                m_outOfHandles = true;
                m_notifier->setEnabled(false);
                m_resume.start(QXLocalSocket::kOutOfHandlesPauseMs);
                return;
            }
            m_outOfHandles = false;
            if (!sameUser(fd)) {
                ::close(fd);
                continue;
            }
            auto* socket = new QLocalSocket(this);
            if (!socket->setSocketDescriptor(fd)) {
                ::close(fd);
                delete socket;
                continue;
            }
            auto* buffer = new QByteArray;
            auto* timer = new QTimer(socket);
            timer->setSingleShot(true);
            // A caller that stops halfway is dropped after a while.
            connect(timer, &QTimer::timeout, socket, [socket] { socket->abort(); });
            timer->start(kIoTimeoutMs);
            connect(socket, &QLocalSocket::readyRead, this,
                    [this, socket, buffer] { read(socket, *buffer); });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QObject::destroyed, this, [buffer] { delete buffer; });
        }
    }

    static bool sameUser(int fd) {
        ucred credentials{};
        socklen_t size = sizeof credentials;
        return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
               credentials.uid == ::getuid();
    }

    void read(QLocalSocket* socket, QByteArray& buffer) {
        buffer += socket->readAll();
        if (buffer.size() < static_cast<qsizetype>(kHeaderSize))
            return;
        const char* p = buffer.constData();
        const uint32_t message = getUint32(p + 4), dwData = getUint32(p + 8),
                       size = getUint32(p + 12);
        if (std::memcmp(p, kMagic, 4) != 0 || size > QXSingleInstance::kMaxPayload) {
            socket->abort();
            return;
        }
        if (buffer.size() < static_cast<qsizetype>(kHeaderSize + size))
            return;
        if (buffer.size() > static_cast<qsizetype>(kHeaderSize + size)) {
            socket->abort(); // more than one message, or garbage behind it
            return;
        }
        const QByteArray payload = buffer.mid(kHeaderSize);
        if (!handle(message, dwData, payload)) {
            socket->abort(); // unanswered: the caller knows it was not taken
            return;
        }
        // The answer says the message was taken in (a file: its import has run).
        socket->write("\x01", 1);
        socket->flush();
        socket->disconnectFromServer();
    }

    // Only the three hand-overs (and the question whether this copy answers) are taken.
    bool handle(uint32_t message, uint32_t dwData, const QByteArray& payload) {
        if (message == 0 && payload.isEmpty())
            return true;
        if (message == QXM_SHOW_MAIN_WINDOW && payload.isEmpty()) {
            m_dispatch.Post(QXM_SHOW_MAIN_WINDOW);
            return true;
        }
        if (message == qxwin::WM_CLOSE && payload.isEmpty()) {
            m_dispatch.Post(qxwin::WM_CLOSE);
            return true;
        }
        if (message == qxwin::WM_COPYDATA && dwData == QXM_OPEN_FILE && payload.size() >= 2 &&
            payload.size() % 2 == 0) {
            std::u16string text(reinterpret_cast<const char16_t*>(payload.constData()),
                                static_cast<size_t>(payload.size() / 2));
            if (text.back() != u'\0' || text.find(u'\0') != text.size() - 1)
                return false; // the path must be one terminated string
            m_dispatch.SendCopyData(dwData, text.c_str(), text.size() * 2);
            return true;
        }
        return false;
    }

    QXDispatch& m_dispatch;
    int m_listener = -1;
    QSocketNotifier* m_notifier = nullptr;
    QTimer m_resume;
    bool m_outOfHandles = false; // said once per spell
};

QXSingleInstance::QXSingleInstance() : QXSingleInstance({}, Timings()) {}

QXSingleInstance::QXSingleInstance(fs::path folder, Timings timings) : m_timings(timings) {
    if (folder.empty())
        folder = QXFolders::instanceFolder().value_or(fs::path());
    if (folder.empty()) {
        // Another user's folder (or a link) in its place could switch the check off or
        // listen in: no start without it.
        m_failure = "the folder " + QXFolders::instanceFolderPath().string() +
                    " for the single-instance lock is not this user's alone; remove it";
        return;
    }
    m_lockPath = folder / kLockName;
    m_socketPath = folder / (std::string(kWindowName) + "." + std::to_string(::getuid()));
}

QXSingleInstance::~QXSingleInstance() {
    m_server.reset();
    if (m_lockFd >= 0) {
        ::unlink(m_socketPath.c_str());
        ::close(m_lockFd);
    }
}

bool QXSingleInstance::tryLock() {
    if (m_lockFd >= 0)
        return true;
    if (m_lockPath.empty())
        return false; // no safe folder: failure() says which
    int fd = ::open(m_lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_lockFd = fd;
    return true;
}

bool QXSingleInstance::lockWithin(std::chrono::milliseconds wait) {
    auto deadline = std::chrono::steady_clock::now() + wait;
    while (!tryLock()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool QXSingleInstance::findRunning() const {
    auto reachable = [this] {
        const int fd = connectTo(m_socketPath);
        if (fd >= 0)
            ::close(fd);
        return fd >= 0;
    };
    if (reachable())
        return true;
    std::this_thread::sleep_for(m_timings.findRetry);
    return reachable();
}

bool QXSingleInstance::deliver(uint32_t message, uint32_t dwData,
                               const std::u16string* text) const {
    const int fd = connectTo(m_socketPath);
    if (fd < 0)
        return false;
    bool ok = false;
    {
        std::string frame(kMagic, 4);
        putUint32(frame, message);
        putUint32(frame, dwData);
        const size_t bytes = text ? (text->size() + 1) * 2 : 0;
        putUint32(frame, static_cast<uint32_t>(bytes));
        if (text)
            frame.append(reinterpret_cast<const char*>(text->c_str()), bytes);
        ok = bytes <= kMaxPayload && writeAll(fd, frame);
        if (ok) {
            // The first copy answers once the message was taken in. Its import of a file
            // may take a while (pictures are copied), so the wait is generous.
            pollfd p{fd, POLLIN, 0};
            char reply = 0;
            ok = ::poll(&p, 1, kAnswerTimeoutMs) > 0 && ::recv(fd, &reply, 1, 0) == 1;
        }
    }
    ::close(fd);
    return ok;
}

bool QXSingleInstance::postToRunning(uint32_t message) const {
    return deliver(message, 0, nullptr);
}

bool QXSingleInstance::sendCopyDataToRunning(uint32_t dwData, const std::u16string& text) const {
    return deliver(qxwin::WM_COPYDATA, dwData, &text);
}

bool QXSingleInstance::handOverFile(const fs::path& file) {
    std::this_thread::sleep_for(m_timings.copyDataDelay);
    findRunning();
    // The running copy has another working folder: hand over the full path.
    std::error_code ec;
    const fs::path absolute = fs::absolute(file, ec);
    return sendCopyDataToRunning(QXM_OPEN_FILE, fromPath(ec ? file : absolute));
}

bool QXSingleInstance::lockIfAlone() {
    return tryLock();
}

bool QXSingleInstance::claim(const CQXCommandLineInfo& commandLine) {
    if (m_lockPath.empty())
        return false; // no safe folder for the lock: failure() names it
    if (tryLock())
        return true;
    if (!commandLine.restart()) {
        const bool file = !commandLine.layersFile().empty();
        bool handedOver;
        if (file) {
            handedOver = handOverFile(commandLine.layersFile());
        } else {
            findRunning();
            handedOver = postToRunning(QXM_SHOW_MAIN_WINDOW);
        }
        if (handedOver)
            return false;
        // The running copy holds the lock but takes nothing in: it is ending. Rather than
        // lose this start (and its file), wait for it and start in its place.
        if (lockWithin(m_timings.restartWait))
            return true;
        m_failure = "the running copy holds the lock but did not answer";
        if (file)
            m_failure += "; " + commandLine.layersFile() + " was not imported";
        return false;
    }
    findRunning();
    const bool answered = postToRunning(qxwin::WM_CLOSE);
    if (lockWithin(m_timings.restartWait))
        return true;
    // A copy that took the request but will not end is left running, as asked of it; one
    // that did not even answer is a failure.
    if (answered)
        QXLog::info(QXLog::kApp, "the running copy did not end; this start gives up");
    else
        m_failure = "the running copy holds the lock but did not answer; it was not restarted";
    return false;
}

void QXSingleInstance::stopListening() {
    m_server.reset();
}

bool QXSingleInstance::listen(QXDispatch& dispatch) {
    if (m_socketPath.empty())
        return false;
    m_server = std::make_unique<QXHandOverServer>(dispatch, m_socketPath);
    return m_server->listening();
}
