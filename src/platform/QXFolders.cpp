#include "platform/QXFolders.h"

#include "platform/QXLog.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

fs::path envPath(const char* name) {
    const char* value = std::getenv(name);
    // XDG: relative paths in these variables are invalid and must be ignored.
    if (value && value[0] == '/')
        return fs::path(value);
    return {};
}

std::string uidText() {
    return std::to_string(::getuid());
}

fs::path homeFolder() {
    fs::path home = envPath("HOME");
    return home.empty() ? fs::path("/") : home;
}

} // namespace

namespace QXFolders {

fs::path profileFolder() {
    fs::path base = envPath("XDG_CONFIG_HOME");
    if (base.empty())
        base = homeFolder() / ".config";
    return base / "TesseraQuadrix";
}

fs::path dataFolder() {
    fs::path base = envPath("XDG_DATA_HOME");
    if (base.empty())
        base = homeFolder() / ".local" / "share";
    return base / "TesseraQuadrix";
}

fs::path runtimeFolder() {
    fs::path runtime = envPath("XDG_RUNTIME_DIR");
    if (!runtime.empty())
        return runtime;
    fs::path tmp = envPath("TMPDIR");
    return tmp.empty() ? fs::path("/tmp") : tmp;
}

fs::path temporaryFolderPath() {
    if (!envPath("XDG_RUNTIME_DIR").empty())
        return runtimeFolder() / "TesseraQuadrix";
    return runtimeFolder() / ("TesseraQuadrix-" + uidText());
}

std::optional<fs::path> privateFolder(const fs::path& folder) {
    auto refuse = [&](const std::string& why) -> std::optional<fs::path> {
        QXLog::warning(QXLog::kPlatform,
                       "the folder " + folder.string() + " is not used: " + why);
        return std::nullopt;
    };
    std::error_code ec;
    fs::create_directories(folder.parent_path(), ec);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return refuse(std::string("it cannot be created (") + std::strerror(errno) + ")");
    // Checked after creating it, on the folder itself and never through a link: whoever
    // made it first, only a folder that is ours and closed to others is trusted.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        if (::lstat(folder.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
            return refuse(S_ISLNK(st.st_mode) ? "it is a link" : "it is not a folder");
        return refuse(std::string("it cannot be opened (") + std::strerror(error) + ")");
    }
    std::optional<fs::path> result = folder;
    if (st.st_uid != ::getuid())
        result = refuse("it belongs to user id " + std::to_string(st.st_uid) + ", not to " +
                        uidText());
    else if ((st.st_mode & 0077) != 0 && ::fchmod(fd, 0700) != 0)
        result = refuse("it is open to other users and its mode cannot be changed");
    ::close(fd);
    return result;
}

std::optional<fs::path> temporaryFolder() {
    return privateFolder(temporaryFolderPath());
}

fs::path instanceFolderPath() {
    if (!envPath("XDG_RUNTIME_DIR").empty())
        return runtimeFolder();
    return runtimeFolder() / ("TesseraQuadrix-" + uidText() + ".run");
}

std::optional<fs::path> instanceFolder() {
    return privateFolder(instanceFolderPath());
}

fs::path virtualKeyboardFolderPath() {
    if (!envPath("XDG_RUNTIME_DIR").empty())
        return runtimeFolder() / "TesseraQuadrix-virtual";
    return runtimeFolder() / ("TesseraQuadrix-virtual-" + uidText());
}

std::optional<fs::path> virtualKeyboardFolder() {
    return privateFolder(virtualKeyboardFolderPath());
}

fs::path programFolder() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        return fs::current_path(ec);
    return exe.parent_path();
}

} // namespace QXFolders
