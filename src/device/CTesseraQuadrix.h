#pragma once

#include "device/QXDeviceDiscovery.h"
#include "device/QXDiskFiles.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// The connected keyboard: its disk files and the device thread that writes them and reads
// the keyboard's key reports.
//
// The device thread waits (poll, no time-out) for, in this order of priority: key
// reports, the write event, the stop event; so pending writes always complete before it
// stops. It also watches the discovery backend's change descriptor and reports changes
// through a callback (once, until rearmed), so arrivals and removals need no timer.
class CTesseraQuadrix {
public:
    class IEventHandler {
    public:
        virtual void connected() = 0;
        virtual void disconnected() = 0;
        // On the device thread.
        virtual void keyDown(size_t keyIndex) = 0;
        virtual void keyUp(size_t keyIndex) = 0;

    protected:
        ~IEventHandler() = default;
    };

    static constexpr size_t kReportBytes = 16;

    CTesseraQuadrix();
    virtual ~CTesseraQuadrix();
    CTesseraQuadrix(const CTesseraQuadrix&) = delete;
    CTesseraQuadrix& operator=(const CTesseraQuadrix&) = delete;

    void setEventHandler(IEventHandler* handler) { m_handler = handler; }

    // Connects to a keyboard found by discovery: prepares its files, reports the
    // connection, opens its key reports when it has them and enables every display.
    // False (nothing changed) when already connected or the keyboard is not usable.
    bool connect(const QXDeviceCandidate& candidate);
    // Lets go: closes the key reports, releases the files, reports the disconnection.
    void disconnect();
    bool isConnected() const { return m_connected; }
    const QXDeviceCandidate& connection() const { return m_connection; }
    bool hasKeyReports() const { return m_hasKeyReports; }
    // The volume still answers (it is mounted and readable).
    bool volumeAnswers() const;

    QXDiskFiles& files() { return m_files; }
    // Guards the files' working code table, which the device thread reads for the
    // keyboard's own modifier mask while the GUI thread rewrites it.
    std::mutex& codeTableLock() { return m_tableLock; }
    // Wakes the device thread to write what is staged.
    void signalWrite();

    // The change descriptor of discovery; onChange runs on the device thread when it is
    // readable and is not called again until rearmChanges().
    void watchChanges(int descriptor, std::function<void()> onChange);
    void rearmChanges();

    // The last key report; byte 0 is not used.
    std::array<uint8_t, kReportBytes> lastReport() const;
    // Compares a report with the last one and calls the handler: the downs of each byte
    // before its ups, in ascending key order. Reports of another length are ignored.
    void processReport(const uint8_t* report, size_t length);

protected:
    // Stops the device thread after it wrote what is pending; connect starts it again.
    void stopThread();

private:
    void run();
    void setReportDescriptor(int descriptor);
    void wake();

    QXDiskFiles m_files;
    QXDeviceCandidate m_connection;
    std::atomic<bool> m_connected{false};
    bool m_hasKeyReports = false;
    IEventHandler* m_handler = nullptr;
    std::mutex m_tableLock;
    std::mutex m_filesLock; // the write pass against prepare and release of the records

    int m_writeEvent = -1;
    int m_stopEvent = -1;
    int m_wakeEvent = -1; // the thread picks up a new report descriptor or rearming

    mutable std::mutex m_state; // the fields below
    std::condition_variable m_stateSeen;
    int m_reportFd = -1;
    unsigned m_generation = 0;
    unsigned m_seenGeneration = 0;
    int m_changeFd = -1;
    bool m_changeArmed = false;
    std::function<void()> m_onChange;
    std::array<uint8_t, kReportBytes> m_lastReport{};

    std::thread m_thread;
};
