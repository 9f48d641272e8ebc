#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

// A thread reading the reports of one HID interface until it is stopped.
class CHIDReader {
public:
    CHIDReader();
    virtual ~CHIDReader();
    CHIDReader(const CHIDReader&) = delete;
    CHIDReader& operator=(const CHIDReader&) = delete;

    // Stops a running reader first. False when the interface cannot be opened.
    bool startReading(const std::string& path);
    // Signals the thread to stop and waits for it.
    void stopReading();
    bool reading() const { return m_thread.joinable(); }

protected:
    // On the reader's thread, for every report.
    virtual void reportReceived(const uint8_t* report, size_t length) = 0;
    // A key the keyboard signalled (see QXHIDDevice).
    virtual void signalledKey(size_t keyIndex) = 0;

private:
    void run();

    int m_device = -1;
    int m_stop = -1; // eventfd
    std::thread m_thread;
};

// Decodes the signalling keys of keyboards without the key-report interface: a key that
// carries an action is programmed to type a prefix code and two base-11 digits, which
// arrive as 10-byte reports with one bit set (report id 1 in byte 0, bytes 1-6 a bitmap
// of codes from 0x7A).
class QXHIDDevice : public CHIDReader {
public:
    // Feeds one report to the decoder (also for tests).
    void decode(const uint8_t* report, size_t length);

protected:
    void reportReceived(const uint8_t* report, size_t length) override { decode(report, length); }

private:
    // 0 for the prefix, 1-11 for the digits 0-10; -1 when the report is none of them.
    static int pattern(const uint8_t* report, size_t length);

    int m_state = 0;
    int m_firstDigit = 0;
};
