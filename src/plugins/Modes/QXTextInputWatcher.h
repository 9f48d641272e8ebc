#pragma once

#include <atomic>
#include <mutex>
#include <thread>

// Whether the desktop's focused object is a text field, followed through the accessibility
// bus (AT-SPI): a focus event for an object that is both focused and editable means text
// input; losing that focus (or the window holding it going inactive) ends it. The state is
// kept in one flag, so asking costs nothing.
//
// The events arrive on a thread of the watcher's own, which runs a GLib main loop on a
// private main context, so neither the program's Qt main loop nor anybody else's GLib
// loop ever sees the bus. Without an accessibility bus the state stays "no text input"
// and connecting is tried again at most once a minute. When it joins the bus, the watcher
// looks up once what has the focus then (a bounded walk of the active window).
//
// Start and Stop on one thread (the GUI thread); TextInput from any thread.
class QXTextInputWatcher {
public:
    QXTextInputWatcher() = default;
    ~QXTextInputWatcher() { Stop(); }
    QXTextInputWatcher(const QXTextInputWatcher&) = delete;
    QXTextInputWatcher& operator=(const QXTextInputWatcher&) = delete;

    void Start();
    // Ends the thread and takes back everything asked of the bus; the connection itself
    // stays for the next start, as the library can be set up only once in a process. The
    // state becomes "no text input".
    void Stop();

    bool TextInput() const { return m_textInput.load(std::memory_order_relaxed); }

    // The thread's state, seen by its callbacks.
    struct Loop;

private:
    friend class QXTextInputWatcherEvents;

    void Run();

    std::thread m_thread;
    std::atomic<bool> m_textInput{false};
    std::mutex m_mutex;
    Loop* m_loop = nullptr;  // the running loop, guarded by m_mutex
    bool m_stopping = false; // guarded by m_mutex
};
