// AT-SPI and GLib stay in this file: their headers clash with Qt's keywords.

#include "QXTextInputWatcher.h"

#include "platform/QXLog.h"

#include <atspi/atspi.h>
#include <chrono>
#include <cstring>
#include <pthread.h>
#include <string>

struct QXTextInputWatcher::Loop {
    QXTextInputWatcher* owner = nullptr;
    GMainContext* context = nullptr;
    GMainLoop* loop = nullptr;
    bool connected = false;
    AtspiEventListener* listener = nullptr;
    AtspiAccessible* focused = nullptr; // the editable object holding the focus, referenced
    GSource* retry = nullptr;           // while not connected: the next attempt, referenced
};

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRetryPeriod = std::chrono::minutes(1);
constexpr const char* kFocusEvent = "object:state-changed:focused";
constexpr const char* kDeactivateEvent = "window:deactivate";
// How many objects the look for the focus at start may ask about.
constexpr int kDiscoveryBudget = 2000;

// When connecting last failed, for the whole process: a watcher started again soon after
// does not knock on a bus that was not there a moment ago.
std::mutex g_failureMutex;
bool g_failed = false;
Clock::time_point g_lastFailure;

bool mayTry() {
    std::lock_guard lock(g_failureMutex);
    return !g_failed || Clock::now() - g_lastFailure >= kRetryPeriod;
}

// Returns whether this is a new failure after a success (or none yet).
bool noteFailure(bool failed) {
    std::lock_guard lock(g_failureMutex);
    const bool first = failed && !g_failed;
    g_failed = failed;
    g_lastFailure = Clock::now();
    return first;
}

// The one main context the accessibility library is ever given: it keeps pointing at it
// between watchers, so it lives as long as the process.
GMainContext* watcherContext() {
    static GMainContext* context = g_main_context_new();
    return context;
}

bool hasState(AtspiAccessible* accessible, AtspiStateType state) {
    AtspiStateSet* set = atspi_accessible_get_state_set(accessible);
    if (!set)
        return false;
    const bool result = atspi_state_set_contains(set, state);
    g_object_unref(set);
    return result;
}

bool sameApplication(AtspiAccessible* a, AtspiAccessible* b) {
    AtspiAccessible* appA = atspi_accessible_get_application(a, nullptr);
    AtspiAccessible* appB = atspi_accessible_get_application(b, nullptr);
    const bool same = appA && appA == appB;
    if (appA)
        g_object_unref(appA);
    if (appB)
        g_object_unref(appB);
    return same;
}

void setFocused(QXTextInputWatcher::Loop& loop, AtspiAccessible* accessible) {
    if (loop.focused)
        g_object_unref(loop.focused);
    loop.focused = accessible ? static_cast<AtspiAccessible*>(g_object_ref(accessible)) : nullptr;
}

} // namespace

// Runs on the watcher's thread. Only one watcher thread runs at a time, so the library's
// state below needs no lock.
class QXTextInputWatcherEvents {
public:
    static void onEvent(AtspiEvent* event, void* data) {
        auto& loop = *static_cast<QXTextInputWatcher::Loop*>(data);
        if (QXLog::debugEnabled() && event->type)
            QXLog::debug(QXLog::kPlugins, std::string("Modes: accessibility event ") + event->type +
                                              " " + std::to_string(event->detail1));
        if (event->source && event->type) {
            if (std::strcmp(event->type, kFocusEvent) == 0) {
                if (event->detail1) {
                    // Gaining the focus: a text caret is there when the object takes text.
                    const bool editable = hasState(event->source, ATSPI_STATE_EDITABLE);
                    if (QXLog::debugEnabled())
                        QXLog::debug(QXLog::kPlugins, std::string("Modes: focused object ") +
                                                          (editable ? "takes" : "takes no") +
                                                          " text");
                    setFocused(loop, editable ? event->source : nullptr);
                    loop.owner->m_textInput = editable;
                } else if (loop.focused == event->source) {
                    setFocused(loop, nullptr);
                    loop.owner->m_textInput = false;
                }
            } else if (std::strcmp(event->type, kDeactivateEvent) == 0 && loop.focused &&
                       sameApplication(loop.focused, event->source)) {
                // The text field's window is no longer the foreground window.
                setFocused(loop, nullptr);
                loop.owner->m_textInput = false;
            }
        }
        g_boxed_free(ATSPI_TYPE_EVENT, event);
    }

    static bool connect(QXTextInputWatcher::Loop& loop) {
        if (!g_libraryReady && !initialiseLibrary(loop))
            return false;
        addMatches();
        loop.listener =
            atspi_event_listener_new(&QXTextInputWatcherEvents::onEvent, &loop, nullptr);
        GError* error = nullptr;
        bool registered = atspi_event_listener_register(loop.listener, kFocusEvent, &error);
        if (registered)
            atspi_event_listener_register(loop.listener, kDeactivateEvent, nullptr);
        if (!registered) {
            if (noteFailure(true))
                QXLog::warning(
                    QXLog::kPlugins,
                    std::string("Modes: focus events of the accessibility bus are not available, "
                                "so text input is not detected; trying again in a minute: ") +
                        (error && error->message ? error->message : "no reason given"));
            if (error)
                g_error_free(error);
            disconnect(loop);
            return false;
        }
        loop.connected = true;
        noteFailure(false);
        discoverFocus(loop);
        return true;
    }

    // What has the focus when the watcher starts, looked up once: the active window of the
    // desktop's applications and, in it, the focused object among those shown. Bounded, as
    // every step asks the application over the bus; from then on focus events tell.
    static void discoverFocus(QXTextInputWatcher::Loop& loop) {
        AtspiAccessible* desktop = atspi_get_desktop(0);
        if (!desktop)
            return;
        int budget = kDiscoveryBudget;
        AtspiAccessible* focused = nullptr;
        const int apps = atspi_accessible_get_child_count(desktop, nullptr);
        for (int a = 0; a < apps && !focused && budget > 0; ++a) {
            AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, a, nullptr);
            if (!app)
                continue;
            const int windows = atspi_accessible_get_child_count(app, nullptr);
            for (int w = 0; w < windows && !focused && budget > 0; ++w) {
                AtspiAccessible* window = atspi_accessible_get_child_at_index(app, w, nullptr);
                if (!window)
                    continue;
                --budget;
                if (hasState(window, ATSPI_STATE_ACTIVE))
                    focused = findFocused(window, budget);
                g_object_unref(window);
            }
            g_object_unref(app);
        }
        g_object_unref(desktop);
        if (!focused)
            return;
        const bool editable = hasState(focused, ATSPI_STATE_EDITABLE);
        setFocused(loop, editable ? focused : nullptr);
        loop.owner->m_textInput = editable;
        g_object_unref(focused);
    }

    // The focused object in the subtree (referenced), or null; only shown objects are
    // entered.
    static AtspiAccessible* findFocused(AtspiAccessible* parent, int& budget) {
        const int children = atspi_accessible_get_child_count(parent, nullptr);
        for (int i = 0; i < children && budget > 0; ++i) {
            AtspiAccessible* child = atspi_accessible_get_child_at_index(parent, i, nullptr);
            if (!child)
                continue;
            --budget;
            AtspiStateSet* set = atspi_accessible_get_state_set(child);
            const bool focused = set && atspi_state_set_contains(set, ATSPI_STATE_FOCUSED);
            const bool showing = set && atspi_state_set_contains(set, ATSPI_STATE_SHOWING);
            if (set)
                g_object_unref(set);
            if (focused)
                return child;
            AtspiAccessible* found = showing ? findFocused(child, budget) : nullptr;
            g_object_unref(child);
            if (found)
                return found;
        }
        return nullptr;
    }

    // Stops the events; the library stays connected (it cannot be set up a second time in
    // one process), but without our listeners and matches the bus sends it nothing.
    static void disconnect(QXTextInputWatcher::Loop& loop) {
        setFocused(loop, nullptr);
        if (loop.listener) {
            atspi_event_listener_deregister(loop.listener, kFocusEvent, nullptr);
            atspi_event_listener_deregister(loop.listener, kDeactivateEvent, nullptr);
            g_object_unref(loop.listener);
            loop.listener = nullptr;
        }
        removeMatches();
        loop.connected = false;
    }

private:
    // Once per process, on the watcher's thread.
    static bool initialiseLibrary(QXTextInputWatcher::Loop& loop) {
        if (!mayTry())
            return false;
        // Asked first: the library is never set up without a connection, as it could not
        // be set up again.
        DBusConnection* bus = atspi_get_a11y_bus();
        if (!bus) {
            if (noteFailure(true))
                QXLog::warning(QXLog::kPlugins,
                               "Modes: no accessibility bus, so text input is not detected; "
                               "trying again in a minute");
            return false;
        }
        if (atspi_init() > 1) {
            QXLog::warning(QXLog::kPlugins, "Modes: the accessibility bus went away while we "
                                            "joined it; text input is not detected");
            noteFailure(true);
            return false;
        }
        // The library sets its connection up on the default main context, which the
        // program's Qt loop runs; it is moved to ours before anything listens.
        atspi_set_main_context(loop.context);
        g_bus = bus;
        g_libraryReady = true;
        return true;
    }

    // The signals the library asks the bus for when it is set up, taken back while nobody
    // watches, so that they do not pile up unread.
    static constexpr const char* kMatches[] = {
        "type='signal',interface='org.a11y.atspi.Cache',member='AddAccessible'",
        "type='signal',interface='org.a11y.atspi.Cache',member='RemoveAccessible'",
        "type='signal',interface='org.a11y.atspi.Event.Object',member='ChildrenChanged'",
        "type='signal',interface='org.a11y.atspi.Event.Object',member='PropertyChange'",
        "type='signal',interface='org.a11y.atspi.Event.Object',member='StateChanged'",
    };
    static void addMatches() {
        if (!g_matchesRemoved)
            return;
        if (g_bus && dbus_connection_get_is_connected(g_bus))
            for (const char* match : kMatches) {
                // With an error to fill the call waits for the bus: the signals flow before
                // our listener is registered.
                DBusError error;
                dbus_error_init(&error);
                dbus_bus_add_match(g_bus, match, &error);
                dbus_error_free(&error);
            }
        g_matchesRemoved = false;
    }
    static void removeMatches() {
        if (g_bus && dbus_connection_get_is_connected(g_bus))
            for (const char* match : kMatches)
                dbus_bus_remove_match(g_bus, match, nullptr);
        g_matchesRemoved = true;
    }

    static bool g_libraryReady;
    static bool g_matchesRemoved;
    static DBusConnection* g_bus; // the library's connection, asked for once

public:
    static gboolean retry(void* data) {
        auto& loop = *static_cast<QXTextInputWatcher::Loop*>(data);
        return connect(loop) ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
    }

    static gboolean quit(void* data) {
        g_main_loop_quit(static_cast<QXTextInputWatcher::Loop*>(data)->loop);
        return G_SOURCE_REMOVE;
    }
};

bool QXTextInputWatcherEvents::g_libraryReady = false;
bool QXTextInputWatcherEvents::g_matchesRemoved = false;
DBusConnection* QXTextInputWatcherEvents::g_bus = nullptr;

void QXTextInputWatcher::Start() {
    if (m_thread.joinable())
        return;
    m_stopping = false;
    m_textInput = false;
    m_thread = std::thread([this] { Run(); });
}

void QXTextInputWatcher::Stop() {
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        if (m_loop) {
            // A source rather than a direct quit: the loop may not have started running yet.
            GSource* source = g_idle_source_new();
            g_source_set_callback(source, &QXTextInputWatcherEvents::quit, m_loop, nullptr);
            g_source_attach(source, m_loop->context);
            g_source_unref(source);
        }
    }
    m_thread.join();
    m_textInput = false;
}

void QXTextInputWatcher::Run() {
    Loop loop;
    loop.owner = this;
    loop.context = watcherContext();
    g_main_context_push_thread_default(loop.context);
    loop.loop = g_main_loop_new(loop.context, FALSE);

    if (!QXTextInputWatcherEvents::connect(loop)) {
        loop.retry = g_timeout_source_new_seconds(
            static_cast<unsigned>(std::chrono::seconds(kRetryPeriod).count()));
        g_source_set_callback(loop.retry, &QXTextInputWatcherEvents::retry, &loop, nullptr);
        g_source_attach(loop.retry, loop.context);
    }
    // Named once it has joined the bus (or found none), so that a look at the process shows
    // whether text input is being watched.
    pthread_setname_np(pthread_self(), "qx-textinput");
    bool run = false;
    {
        std::lock_guard lock(m_mutex);
        run = !m_stopping;
        if (run)
            m_loop = &loop;
    }
    if (run)
        g_main_loop_run(loop.loop);
    {
        std::lock_guard lock(m_mutex);
        m_loop = nullptr;
    }
    if (loop.connected)
        QXTextInputWatcherEvents::disconnect(loop);
    g_main_loop_unref(loop.loop);
    // The context outlives this run; nothing of the run may stay attached to it.
    if (loop.retry) {
        g_source_destroy(loop.retry);
        g_source_unref(loop.retry);
    }
    g_main_context_pop_thread_default(loop.context);
}
