#include "platform/QXFiles.h"

#include "platform/QXText.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

bool writeAll(int fd, std::string_view content) {
    const char* p = content.data();
    size_t left = content.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

bool writeFileAtomically(const fs::path& target, std::string_view content) {
    std::string pattern = target.native() + ".tmpXXXXXX";
    int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return false;
    // mkstemp creates the file 0600; profile files get the usual mode for user files.
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    bool ok = writeAll(fd, content) && ::fdatasync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(pattern.c_str(), target.c_str()) == 0)
        return true;
    ::unlink(pattern.c_str());
    return false;
}

bool copyFileAtomically(const fs::path& source, const fs::path& target) {
    std::error_code ec;
    if (fs::equivalent(source, target, ec))
        return true;
    auto content = readWholeFile(source, size_t(1) << 30);
    return content && writeFileAtomically(target, *content);
}

namespace {

// Reads up to maxBytes from the start of a regular file; with whole, a larger file is
// refused instead.
std::optional<std::string> readRegularFile(const fs::path& path, size_t maxBytes, bool whole) {
    // Non-blocking, so a FIFO in place of the file cannot hang the reader at open.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        (whole && static_cast<unsigned long long>(st.st_size) > maxBytes)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string content;
    content.resize(std::min(static_cast<size_t>(st.st_size), maxBytes));
    size_t got = 0;
    while (got < content.size()) {
        ssize_t n = ::read(fd, content.data() + got, content.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    content.resize(got);
    return content;
}

} // namespace

std::optional<std::string> readWholeFile(const fs::path& path, size_t maxBytes) {
    return readRegularFile(path, maxBytes, true);
}

std::optional<std::string> readFileStart(const fs::path& path, size_t maxBytes) {
    return readRegularFile(path, maxBytes, false);
}

bool isRegularFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

bool isDirectory(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

bool createFolders(const fs::path& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    return isDirectory(path);
}

bool removeTree(const fs::path& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
    return !ec;
}

std::optional<fs::path> moveAside(const fs::path& path, std::string_view suffix) {
    for (int n = 1; n < 1000; ++n) {
        fs::path aside = path.native() + std::string(suffix) +
                         (n == 1 ? std::string() : "-" + std::to_string(n));
        std::error_code ec;
        if (fs::symlink_status(aside, ec).type() != fs::file_type::not_found)
            continue;
        // link + unlink never replaces a file that appeared in the meantime.
        if (::link(path.c_str(), aside.c_str()) == 0) {
            ::unlink(path.c_str());
            return aside;
        }
        if (errno == EEXIST)
            continue;
        // File systems without hard links: a plain rename, the name was free a moment ago.
        if (::rename(path.c_str(), aside.c_str()) == 0)
            return aside;
        return std::nullopt;
    }
    return std::nullopt;
}

bool isSafeFileName(std::u16string_view name) {
    if (name.empty() || name == u"." || name == u"..")
        return false;
    for (char16_t c : name)
        if (c == u'/' || c == 0)
            return false;
    return toUtf8(name).size() <= 255;
}
