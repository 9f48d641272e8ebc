#include "app/QXProcessList.h"

#include "platform/QXText.h"

#include <QString>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace {

constexpr std::string_view kDeleted = " (deleted)";
// argv[0] is all we want from a command line; longer ones are cut here.
constexpr size_t kCommandLineBytes = 4096;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

bool isProcessId(const char* name) {
    if (!*name)
        return false;
    for (const char* c = name; *c; ++c)
        if (*c < '0' || *c > '9')
            return false;
    return true;
}

std::optional<std::string> readExeLink(int procFd, const std::string& pid) {
    char buffer[PATH_MAX];
    const std::string link = pid + "/exe";
    ssize_t length = ::readlinkat(procFd, link.c_str(), buffer, sizeof buffer);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer)
        return std::nullopt;
    std::string target(buffer, static_cast<size_t>(length));
    if (target.ends_with(kDeleted))
        target.resize(target.size() - kDeleted.size());
    return target;
}

// argv[0] of a process whose executable link we may not read. Programs that rewrite
// their title ("sshd: alice [priv]", "chrome --type=renderer ...") put the whole title
// into argv[0]; unless it names an existing file, the program is the part before the
// first space. A login shell's leading '-' is not part of its name.
std::optional<std::string> readArgv0(int procFd, const std::string& pid) {
    const std::string file = pid + "/cmdline";
    FileDescriptor fd(::openat(procFd, file.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return std::nullopt;
    char buffer[kCommandLineBytes];
    ssize_t length;
    do
        length = ::read(fd.get(), buffer, sizeof buffer);
    while (length < 0 && errno == EINTR);
    if (length <= 0)
        return std::nullopt;
    std::string argv0(buffer, static_cast<size_t>(length));
    if (size_t end = argv0.find('\0'); end != std::string::npos)
        argv0.resize(end);
    if (argv0.find(' ') != std::string::npos && ::access(argv0.c_str(), F_OK) != 0) {
        argv0.resize(argv0.find(' '));
        if (argv0.ends_with(':'))
            argv0.pop_back();
    }
    if (argv0.starts_with('-'))
        argv0.erase(0, 1);
    if (argv0.empty() || argv0.ends_with('/'))
        return std::nullopt;
    return argv0;
}

std::optional<std::string> readExecutable(int procFd, const std::string& pid) {
    if (auto target = readExeLink(procFd, pid))
        return target;
    return readArgv0(procFd, pid);
}

} // namespace

QXProcessList::Snapshot QXProcessList::snapshot() {
    Snapshot processes;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return processes;
    const int procFd = ::dirfd(proc);
    while (dirent* entry = ::readdir(proc)) {
        if (!isProcessId(entry->d_name))
            continue;
        const std::string pid = entry->d_name;
        // A process that ended since readdir() simply has no executable any more.
        if (auto path = readExecutable(procFd, pid)) {
            std::u16string name = applicationName(*path);
            if (!name.empty())
                processes.emplace(std::strtol(pid.c_str(), nullptr, 10), std::move(name));
        }
    }
    ::closedir(proc);
    return processes;
}

std::optional<std::filesystem::path> QXProcessList::executable(long pid) {
    if (pid <= 0)
        return std::nullopt;
    FileDescriptor proc(::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (proc.get() < 0)
        return std::nullopt;
    if (auto path = readExecutable(proc.get(), std::to_string(pid)))
        return std::filesystem::path(*path);
    return std::nullopt;
}

std::u16string QXProcessList::processName(long pid) {
    auto path = executable(pid);
    return path ? applicationName(*path) : std::u16string();
}

std::u16string QXProcessList::applicationName(const std::filesystem::path& executable) {
    return lowerCase(fromUtf8(executable.filename().string()));
}

std::u16string QXProcessList::lowerCase(std::u16string_view name) {
    return QString::fromUtf16(name.data(), static_cast<qsizetype>(name.size()))
        .toLower()
        .toStdU16String();
}
