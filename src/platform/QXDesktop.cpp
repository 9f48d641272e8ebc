#include "platform/QXDesktop.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace QXDesktop {

bool open(const std::string& fileOrAddress) {
    return start({"xdg-open", fileOrAddress});
}

bool start(const std::vector<std::string>& arguments) {
    if (arguments.empty())
        return false;
    // Made before the fork: the child only execs.
    std::vector<const char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    // A pipe closed on exec tells whether the program started.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) < 0)
        return false;
    // Started twice removed, so the program belongs to init and leaves no zombie behind.
    pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        ::setsid();
        pid_t grandchild = ::fork();
        if (grandchild == 0) {
            ::execvp(argv[0], const_cast<char* const*>(argv.data()));
            char failed = 1;
            [[maybe_unused]] ssize_t written = ::write(report[1], &failed, 1);
            ::_exit(127);
        }
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    ::close(report[1]);
    if (child < 0) {
        ::close(report[0]);
        return false;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // End of file without a byte: the exec went through.
    char failed = 0;
    ssize_t got;
    while ((got = ::read(report[0], &failed, 1)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && got == 0;
}

std::string findOnPath(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos)
        return {};
    const char* path = ::getenv("PATH");
    std::string_view rest = path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        size_t colon = rest.find(':');
        std::string_view folder = rest.substr(0, colon);
        // An empty entry is the current folder.
        std::string candidate =
            (folder.empty() ? std::string(".") : std::string(folder)) + "/" + name;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (colon == std::string_view::npos)
            return {};
        rest.remove_prefix(colon + 1);
    }
}

} // namespace QXDesktop
