#include "app/CQXMessageDispatch.h"

#include "hook/qxhk.h"
#include "platform/QXMessages.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

QEvent::Type QXDispatchEvent::type() {
    static const QEvent::Type registered = static_cast<QEvent::Type>(QEvent::registerEventType());
    return registered;
}

CQXMessageDispatch::CQXMessageDispatch() {
    setObjectName(QStringLiteral("QXDispatch Window"));
    QXDispatch::setCurrent(this);
    m_hooked = Hook(this, &CQXMessageDispatch::postFromHook) != 0;
}

CQXMessageDispatch::~CQXMessageDispatch() {
    m_accepting = false;
    if (m_hooked)
        UnHook();
    m_windows.clear();
    if (&QXDispatch::current() == this)
        QXDispatch::setCurrent(nullptr);
}

void CQXMessageDispatch::postFromHook(void* target, uint32_t message, uintptr_t wParam,
                                      intptr_t lParam) {
    static_cast<CQXMessageDispatch*>(target)->Post(message, wParam, lParam);
}

void CQXMessageDispatch::Send(uint32_t message, WPARAM wParam, LPARAM lParam) {
    if (QThread::currentThread() == thread()) {
        handle(message, wParam, lParam);
        return;
    }
    if (!m_accepting)
        return;
    // The sender waits until the GUI thread has run the handlers, unless the GUI thread
    // waits for another thread meanwhile (perhaps this one): then both would wait forever,
    // so the sender goes on and the handlers run when the GUI thread is free again.
    struct Completion {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
    };
    auto completion = std::make_shared<Completion>();
    QMetaObject::invokeMethod(
        this,
        [this, message, wParam, lParam, completion] {
            handle(message, wParam, lParam);
            std::lock_guard lock(completion->mutex);
            completion->finished = true;
            completion->done.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(completion->mutex);
    while (!completion->finished) {
        completion->done.wait_for(lock, std::chrono::milliseconds(5));
        if (!completion->finished && (GuiWait::active() || !m_accepting))
            return;
    }
}

void CQXMessageDispatch::Post(uint32_t message, WPARAM wParam, LPARAM lParam) {
    QMetaObject::invokeMethod(
        this, [this, message, wParam, lParam] { handle(message, wParam, lParam); },
        Qt::QueuedConnection);
}

void CQXMessageDispatch::handle(uint32_t message, WPARAM wParam, LPARAM lParam) {
    if (m_destroyed)
        return;
    if (message == qxwin::WM_CLOSE) {
        destroyWindow();
        return;
    }
    if (message == qxwin::WM_COMMAND) {
        const auto command = static_cast<uint32_t>(wParam & 0xFFFF);
        if (command == qxwin::IDCLOSE) {
            destroyWindow();
            return;
        }
        if (command == qxwin::IDHELP) {
            Send(QXM_SHOW_MAIN_WINDOW);
            return;
        }
    }
    Dispatch(message, wParam, lParam);
}

void CQXMessageDispatch::destroyWindow() {
    shutdown();
    QCoreApplication::quit();
}

void CQXMessageDispatch::shutdown() {
    if (m_destroyed)
        return;
    Dispatch(qxwin::WM_DESTROY, 0, 0);
    m_destroyed = true;
    m_accepting = false;
    // The hook stays until the window object goes: its reports are ignored from here on.
}

void CQXMessageDispatch::SubscribeWindow(uint32_t message, QObject* window) {
    if (!window)
        return;
    std::vector<QPointer<QObject>>& windows = m_windows[message];
    for (const QPointer<QObject>& w : windows)
        if (w.data() == window)
            return;
    windows.emplace_back(window);
}

void CQXMessageDispatch::UnsubscribeWindow(QObject* window) {
    for (auto it = m_windows.begin(); it != m_windows.end();) {
        std::erase_if(it->second, [&](const QPointer<QObject>& w) { return w.data() == window || !w; });
        it = it->second.empty() ? m_windows.erase(it) : std::next(it);
    }
}

void CQXMessageDispatch::deliverToWindows(uint32_t message, WPARAM wParam, LPARAM lParam) {
    auto it = m_windows.find(message);
    if (it == m_windows.end())
        return;
    const std::vector<QPointer<QObject>> windows = it->second;
    for (const QPointer<QObject>& window : windows) {
        if (!window)
            continue;
        QXDispatchEvent event(message, wParam, lParam);
        QCoreApplication::sendEvent(window.data(), &event);
    }
}
