#include "platform/QXFolders.h"

#include <cerrno>
#include <cstdlib>
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
    return runtimeFolder() / ("TesseraQuadrix-" + std::to_string(::getuid()));
}

namespace {

// A folder of ours alone: created 0700 when missing; never a link, never another user's.
std::optional<fs::path> privateFolder(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder.parent_path(), ec);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return std::nullopt;
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return std::nullopt;
    if ((st.st_mode & 0077) != 0 && ::chmod(folder.c_str(), 0700) != 0)
        return std::nullopt;
    return folder;
}

} // namespace

std::optional<fs::path> temporaryFolder() {
    return privateFolder(temporaryFolderPath());
}

std::optional<fs::path> instanceFolder() {
    if (!envPath("XDG_RUNTIME_DIR").empty())
        return privateFolder(runtimeFolder());
    return privateFolder(runtimeFolder() / ("TesseraQuadrix-" + std::to_string(::getuid()) + ".run"));
}

fs::path programFolder() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        return fs::current_path(ec);
    return exe.parent_path();
}

} // namespace QXFolders
