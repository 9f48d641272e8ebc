#include "platform/QXFiles.h"

#include "platform/QXText.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

QXFileCallObserver& observer() {
    static QXFileCallObserver o;
    return o;
}

void note(std::string_view call, const fs::path& path) {
    if (observer())
        observer()(call, path);
}

bool writeAll(int fd, const char* p, size_t left) {
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

// Creates "<target>.tmpXXXXXX" beside the target, with the usual mode for user files
// (mkstemp makes it 0600).
int createScratch(const fs::path& target, std::string& scratch) {
    scratch = target.native() + ".tmpXXXXXX";
    int fd = ::mkstemp(scratch.data());
    if (fd < 0)
        return -1;
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    return fd;
}

// The data reaches the disk before the new name does, so a crash leaves either the old
// file or the whole new one; the folder is synced after the rename so the new name
// lasts too.
bool finishScratch(int fd, const std::string& scratch, const fs::path& target, bool written) {
    bool ok = written && ::fdatasync(fd) == 0;
    if (ok)
        note("sync", scratch);
    ok = (::close(fd) == 0) && ok;
    note("close", scratch);
    if (ok && ::rename(scratch.c_str(), target.c_str()) == 0) {
        note("rename", target);
        int folder = ::open(target.parent_path().empty() ? "." : target.parent_path().c_str(),
                            O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) {
            if (::fsync(folder) == 0)
                note("sync-folder", target.parent_path());
            ::close(folder);
        }
        return true;
    }
    ::unlink(scratch.c_str());
    return false;
}

} // namespace

QXFileCallObserver setFileCallObserver(QXFileCallObserver o) {
    std::swap(observer(), o);
    return o;
}

bool writeFileAtomically(const fs::path& target, std::string_view content) {
    std::string scratch;
    int fd = createScratch(target, scratch);
    if (fd < 0)
        return false;
    bool written = writeAll(fd, content.data(), content.size());
    if (written)
        note("write", scratch);
    return finishScratch(fd, scratch, target, written);
}

bool copyFileAtomically(const fs::path& source, const fs::path& target) {
    std::error_code ec;
    if (fs::equivalent(source, target, ec))
        return true;
    // Non-blocking, so a FIFO in place of the source cannot hang the copy.
    int in = ::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (in < 0)
        return false;
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        return false;
    }
    std::string scratch;
    int out = createScratch(target, scratch);
    if (out < 0) {
        ::close(in);
        return false;
    }
    // In bounded pieces: a large file never sits in memory whole.
    std::vector<char> buffer(size_t(64) << 10);
    bool written = true;
    for (;;) {
        ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            written = false;
        if (n <= 0)
            break;
        if (!writeAll(out, buffer.data(), static_cast<size_t>(n))) {
            written = false;
            break;
        }
        note("write", scratch);
    }
    ::close(in);
    return finishScratch(out, scratch, target, written);
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
