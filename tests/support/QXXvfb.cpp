#include "support/QXXvfb.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace qxtest {

namespace {

// Generous: sanitizer builds on a loaded machine start slowly. Nothing waits this long
// unless something is broken.
constexpr std::chrono::seconds kStartTimeout(60);
constexpr std::chrono::seconds kStopTimeout(10);

std::string findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    const std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        const size_t colon = dirs.find(':', start);
        const std::string dir = dirs.substr(start, colon - start);
        if (!dir.empty()) {
            const std::string candidate = dir + "/" + name;
            if (::access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        if (colon == std::string::npos)
            return {};
        start = colon + 1;
    }
}

// Starts a program with some environment variables replaced and its output appended to
// a log file. The program is killed when the test process ends, however it ends, so a
// crashing test leaves no server behind. -1 when it cannot be started.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::filesystem::path& log) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view current(*entry);
        bool replaced = false;
        for (const std::string& extra : env)
            replaced = replaced || current.substr(0, current.find('=') + 1) ==
                                       extra.substr(0, extra.find('=') + 1);
        if (!replaced)
            environment.emplace_back(current);
    }
    environment.insert(environment.end(), env.begin(), env.end());
    std::vector<char*> args, envp;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    for (const std::string& entry : environment)
        envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (in < 0 || out < 0)
            ::_exit(127);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        if (in > 2)
            ::close(in);
        if (out > 2)
            ::close(out);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    return pid;
}

// True once the child has ended (and has been reaped).
bool ended(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) != 0;
}

void stop(pid_t& pid) {
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    if (!waitFor([pid] { return ended(pid); }, kStopTimeout)) {
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    pid = -1;
}

std::string lockFile(int number) {
    return "/tmp/.X" + std::to_string(number) + "-lock";
}

bool displayInUse(int number) {
    struct stat info;
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
    return ::lstat(socket.c_str(), &info) == 0 || ::lstat(lockFile(number).c_str(), &info) == 0;
}

// The server that owns a display number writes its process id into the lock file.
pid_t lockOwner(int number) {
    return pid_t(std::atol(readFile(lockFile(number)).c_str()));
}

// The root's window-list property, empty when it is not set.
std::vector<Window> rootWindows(Display* display, const char* name) {
    const Atom property = XInternAtom(display, name, False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<Window> windows;
    if (XGetWindowProperty(display, DefaultRootWindow(display), property, 0, 4096, False, XA_WINDOW,
                           &type, &format, &count, &after, &data) == Success &&
        data && type == XA_WINDOW && format == 32) {
        const auto* ids = reinterpret_cast<const unsigned long*>(data);
        windows.assign(ids, ids + count);
    }
    if (data)
        XFree(data);
    return windows;
}

bool contains(const std::vector<Window>& windows, Window window) {
    return std::find(windows.begin(), windows.end(), window) != windows.end();
}

} // namespace

bool QXXvfb::available() {
    return !findProgram("Xvfb").empty();
}

QXXvfb::QXXvfb(const Options& options) {
    if (!startServer(options.screen))
        return;
    if (!options.layouts.empty() && !setLayouts(options.layouts))
        return;
    if (options.windowManager)
        startWindowManager();
}

QXXvfb::~QXXvfb() {
    stop(m_windowManager);
    stop(m_server);
    m_env.reset();
}

// Picks a display number that looks free and starts a server on it. Another process may
// take the same number at the same moment: then one of the two servers exits (or the
// lock file names the other one) and this one moves on to the next number.
bool QXXvfb::startServer(const std::string& screen) {
    const std::string xvfb = findProgram("Xvfb");
    if (xvfb.empty()) {
        m_error = "Xvfb is not installed";
        return false;
    }
    int number = 20 + int(::getpid() % 500);
    for (int attempts = 0; attempts < 10; ++number) {
        if (displayInUse(number))
            continue;
        ++attempts;
        const std::string display = ":" + std::to_string(number);
        m_server =
            spawn({xvfb, display, "-noreset", "-screen", "0", screen, "-nolisten", "tcp"},
                  {}, m_dir / "server.log");
        if (m_server < 0) {
            m_error = "cannot start " + xvfb;
            return false;
        }
        bool exited = false;
        Display* connection = nullptr;
        waitFor(
            [&] {
                exited = ended(m_server);
                connection = exited ? nullptr : XOpenDisplay(display.c_str());
                return exited || connection;
            },
            kStartTimeout);
        if (exited) {
            m_server = -1;
            continue;
        }
        if (!connection) {
            m_error = "Xvfb did not accept connections on " + display + "\n" + log();
            return false;
        }
        XCloseDisplay(connection);
        if (lockOwner(number) != m_server) {
            stop(m_server);
            continue;
        }
        m_display = display;
        m_env = std::make_unique<ScopedEnv>("DISPLAY", display);
        return true;
    }
    m_error = "no display number could be used\n" + log();
    return false;
}

bool QXXvfb::setLayouts(const std::string& layouts) {
    const std::string setxkbmap = findProgram("setxkbmap");
    if (setxkbmap.empty()) {
        m_error = "setxkbmap is not installed";
        return false;
    }
    const ProgramResult result = runProgram({setxkbmap, "-display", m_display, "-layout", layouts});
    if (result.exitStatus != 0) {
        m_error = "setxkbmap -layout " + layouts + " failed: " + result.err;
        return false;
    }
    return true;
}

// Openbox gets empty configuration and cache folders of its own, so the developer's
// settings play no part; it falls back to the system's default configuration.
bool QXXvfb::startWindowManager() {
    const std::string openbox = findProgram("openbox");
    if (openbox.empty()) {
        m_error = "openbox is not installed";
        return false;
    }
    std::filesystem::create_directories(m_dir / "config");
    std::filesystem::create_directories(m_dir / "cache");
    m_windowManager =
        spawn({openbox, "--sm-disable"},
              {"DISPLAY=" + m_display, "XDG_CONFIG_HOME=" + (m_dir / "config").string(),
               "XDG_CACHE_HOME=" + (m_dir / "cache").string()},
              m_dir / "wm.log");
    Display* connection = XOpenDisplay(m_display.c_str());
    if (m_windowManager < 0 || !connection) {
        if (connection)
            XCloseDisplay(connection);
        m_error = "cannot start " + openbox;
        return false;
    }
    // The window manager announces itself before its event loop runs, and a window
    // mapped in between can be lost to it. It is ready once a probe window, mapped again
    // for as long as it stays unmapped, is under its management, and it has let the
    // probe go again.
    bool exited = false;
    bool ready = waitFor(
        [&] {
            exited = ended(m_windowManager);
            return exited || !rootWindows(connection, "_NET_SUPPORTING_WM_CHECK").empty();
        },
        kStartTimeout);
    // The probe declines the focus, so that no test finds it recorded as the active
    // window (its id may come back for a window of the test's own).
    const Window probe =
        XCreateSimpleWindow(connection, DefaultRootWindow(connection), 0, 0, 10, 10, 0, 0, 0);
    XWMHints hints{};
    hints.flags = InputHint;
    hints.input = False;
    XSetWMHints(connection, probe, &hints);
    const unsigned long noUserTime = 0;
    XChangeProperty(connection, probe, XInternAtom(connection, "_NET_WM_USER_TIME", False),
                    XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&noUserTime), 1);
    ready = ready && !exited &&
            waitFor(
                [&] {
                    XWindowAttributes attributes;
                    if (XGetWindowAttributes(connection, probe, &attributes) &&
                        attributes.map_state == IsUnmapped)
                        XMapWindow(connection, probe);
                    return contains(rootWindows(connection, "_NET_CLIENT_LIST"), probe);
                },
                kStartTimeout);
    XDestroyWindow(connection, probe);
    ready = ready &&
            waitFor([&] { return !contains(rootWindows(connection, "_NET_CLIENT_LIST"), probe); },
                    kStartTimeout);
    XCloseDisplay(connection);
    if (exited || ended(m_windowManager))
        m_windowManager = -1;
    if (!ready || m_windowManager < 0) {
        m_error = "openbox did not take over the screen\n" + log();
        return false;
    }
    return true;
}

std::string QXXvfb::log() const {
    std::string text;
    for (const char* name : {"server.log", "wm.log"}) {
        const std::string content = readFile(m_dir / name);
        if (!content.empty())
            text += std::string(name) + ":\n" + content;
    }
    return text;
}

} // namespace qxtest
