#pragma once

#include "app/CQXCommandLineInfo.h"

#include <QObject>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

class QLocalSocket;
class QXDispatch;

// One copy of the program per user. The first copy holds a lock file,
// "QUADRIXMANAGER-<GUID>", and listens on a local socket named after its dispatch
// window; a later copy finds the socket and hands its command line over:
//   - nothing special: 2042, and the first copy shows its main window;
//   - a layers file: after 777 ms a data block {2048, path} is sent, and the first copy
//     imports the file;
//   - "restart": WM_CLOSE, then the lock is awaited for up to 7000 ms and this copy
//     takes over (or gives up).
// The socket and the lock live in a folder of the user's alone (a copy whose folder is
// not safe does not start), and the first copy also checks each caller's user id; a
// malformed, oversized or foreign message is dropped. Every hand-over waits for the first
// copy's answer: one that gets none is a failure, never taken for a success.
class QXSingleInstance {
public:
    struct Timings {
        std::chrono::milliseconds copyDataDelay{777};
        std::chrono::milliseconds findRetry{7000};   // a second look for the running copy
        std::chrono::milliseconds restartWait{7000}; // for the running copy to end
    };

    QXSingleInstance();
    QXSingleInstance(std::filesystem::path folder, Timings timings);
    ~QXSingleInstance();
    QXSingleInstance(const QXSingleInstance&) = delete;
    QXSingleInstance& operator=(const QXSingleInstance&) = delete;

    // Runs the rule for this command line. True: this is the first copy (it holds the
    // lock) and start-up goes on, also after a running copy that was ending made way.
    // False: the command line was handed over and answered, or a restart found the
    // running copy unwilling to end (failure() is empty); or nothing answered or the lock's
    // folder is not safe (failure() says why). This copy ends.
    bool claim(const CQXCommandLineInfo& commandLine);

    // For a helper that writes the user's profile: takes the lock when no copy runs and
    // holds it while this object lives, so no copy starts meanwhile. False when a copy
    // holds it, or when the lock's folder is not safe (failure() says so).
    bool lockIfAlone();

    // Hands a layers file (made absolute) to the running copy as a later start does and
    // waits for the answer. False when no running copy took it.
    bool handOverFile(const std::filesystem::path& file);

    // Why the last claim() or lockIfAlone() could not go on; empty when nothing failed.
    const std::string& failure() const { return m_failure; }

    // Sets out the first copy's side: hand-over messages go to the dispatch from now on.
    // Call on the GUI thread after claim() returned true.
    bool listen(QXDispatch& dispatch);
    // The first copy is ending: later copies are no longer taken in; they wait for the
    // lock and start in its place.
    void stopListening();

    const std::filesystem::path& lockPath() const { return m_lockPath; }
    const std::filesystem::path& socketPath() const { return m_socketPath; }

    // A later copy's side, also used by tests. Each waits for the running copy's answer
    // and returns false when none came. Message 0 only asks whether a copy answers.
    bool postToRunning(uint32_t message) const;
    bool sendCopyDataToRunning(uint32_t dwData, const std::u16string& text) const;

    // Frame limits of the hand-over.
    static constexpr uint32_t kMaxPayload = 64 * 1024;

private:
    bool tryLock();
    bool lockWithin(std::chrono::milliseconds wait);
    // The running copy's socket, looked for once more after a pause when it is not there.
    bool findRunning() const;
    bool deliver(uint32_t message, uint32_t dwData, const std::u16string* text) const;

    std::filesystem::path m_lockPath;
    std::filesystem::path m_socketPath;
    std::string m_failure;
    Timings m_timings;
    int m_lockFd = -1;
    std::unique_ptr<class QXHandOverServer> m_server;
};
