#pragma once

#include "platform/QXDispatch.h"
#include "platform/QXSingleton.h"

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <atomic>
#include <map>
#include <vector>

// What a subscribed window receives: the message and its two parameters, delivered
// synchronously with QCoreApplication::sendEvent after the message's bindings ran.
class QXDispatchEvent : public QEvent {
public:
    QXDispatchEvent(uint32_t message, qxwin::WPARAM wParam, qxwin::LPARAM lParam)
        : QEvent(type()), m_message(message), m_wParam(wParam), m_lParam(lParam) {}

    static QEvent::Type type();
    uint32_t message() const { return m_message; }
    qxwin::WPARAM wParam() const { return m_wParam; }
    qxwin::LPARAM lParam() const { return m_lParam; }

private:
    uint32_t m_message;
    qxwin::WPARAM m_wParam;
    qxwin::LPARAM m_lParam;
};

// The hidden window every part of the program talks through, named "QXDispatch Window".
// It lives on the GUI thread: sends from other threads wait until the GUI thread ran
// the handlers, posts are queued. Creating it installs the keyboard hook and makes it
// the program's current dispatch; destroying it removes the hook.
//
// Besides the program's own messages it handles: WM_CLOSE and the command IDCLOSE
// (the window is destroyed: WM_DESTROY is dispatched and the application quits), and
// the command IDHELP (2042 is sent to itself).
class CQXMessageDispatch : public QObject,
                           public QXDispatch,
                           public singleton<CQXMessageDispatch> {
    Q_OBJECT
public:
    CQXMessageDispatch();
    ~CQXMessageDispatch() override;

    void Send(uint32_t message, WPARAM wParam = 0, LPARAM lParam = 0) override;
    void Post(uint32_t message, WPARAM wParam = 0, LPARAM lParam = 0) override;

    // Subscribed windows receive the message as a QXDispatchEvent. A window that is
    // deleted without unsubscribing is skipped.
    void SubscribeWindow(uint32_t message, QObject* window);
    void UnsubscribeWindow(QObject* window);

    // The window was destroyed (closed); the application is quitting.
    bool destroyed() const { return m_destroyed; }
    // Destroys the window without closing it first: WM_DESTROY is dispatched and nothing
    // more is handled. The hook goes with the object. Called on the way out.
    void shutdown();

    // The hook library reports here; target is the dispatch.
    static void postFromHook(void* target, uint32_t message, uintptr_t wParam, intptr_t lParam);
    // Whether the hook watches the X session: false without one (a Wayland-only session).
    bool hooked() const { return m_hooked; }

protected:
    void deliverToWindows(uint32_t message, WPARAM wParam, LPARAM lParam) override;

private:
    // The window's own handling ahead of the bindings.
    void handle(uint32_t message, WPARAM wParam, LPARAM lParam);
    void destroyWindow();

    std::map<uint32_t, std::vector<QPointer<QObject>>> m_windows;
    std::atomic<bool> m_accepting{true}; // sends from other threads are refused once false
    bool m_destroyed = false;
    bool m_hooked = false;
};
