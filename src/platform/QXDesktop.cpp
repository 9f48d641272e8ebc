#include "platform/QXDesktop.h"

#include <cerrno>
#include <sys/wait.h>
#include <unistd.h>

namespace QXDesktop {

bool open(const std::string& fileOrAddress) {
    // Started twice removed, so the opener belongs to init and leaves no zombie behind.
    pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        ::setsid();
        pid_t grandchild = ::fork();
        if (grandchild == 0) {
            const char* argv[] = {"xdg-open", fileOrAddress.c_str(), nullptr};
            ::execvp(argv[0], const_cast<char* const*>(argv));
            ::_exit(127);
        }
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace QXDesktop
