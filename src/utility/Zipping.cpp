#include "platform/QXFiles.h"
#include "platform/QXText.h"
#include "utility/utility.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zip.h>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kMaxUnpackedBytes = uint64_t(1) << 30;
// The largest file a layer set holds: a property list or a key picture, each read only
// up to 64 MiB by the program.
constexpr uint64_t kMaxEntryBytes = uint64_t(64) << 20;
constexpr int64_t kMaxEntries = 100000;
constexpr size_t kMaxNameBytes = 4096;
constexpr size_t kMaxComponentBytes = 255;
constexpr uintmax_t kEndRecordBytes = 22;

thread_local std::string t_lastError;

int fail(std::string message) {
    t_lastError = std::move(message);
    return 0;
}

int succeed() {
    t_lastError.clear();
    return 1;
}

std::string quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

std::string zipErrorText(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

bool isValidUtf8(std::string_view text) {
    return toUtf8(fromUtf8(text)) == text;
}

void closeFd(int fd) {
    if (fd >= 0)
        ::close(fd);
}

struct ZipDiscard {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ZipHandle = std::unique_ptr<zip_t, ZipDiscard>;

// ---- Packing --------------------------------------------------------------------------

struct SourceEntry {
    std::string name; // relative, '/'-separated, UTF-8
    fs::path path;
    bool folder = false;
    mode_t mode = 0;
};

// Lists the folder's contents. Links to regular files are packed as the files they
// point to; other links and special files (fifos, sockets, devices) are left out, as the
// unpacking side refuses them anyway.
bool collectEntries(const fs::path& root, const fs::path& skip, std::vector<SourceEntry>& out) {
    std::error_code ec;
    auto it = fs::recursive_directory_iterator(root, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path& path = it->path();
        std::error_code ignored;
        bool link = it->is_symlink(ignored);
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            if (link)
                continue; // dangling
            return fail("cannot read " + quoted(path) + ": " + std::strerror(errno));
        }
        bool folder = S_ISDIR(st.st_mode);
        if ((!folder && !S_ISREG(st.st_mode)) || (folder && link))
            continue;
        if (!folder && fs::equivalent(path, skip, ignored))
            continue;
        std::string name = path.lexically_relative(root).generic_string();
        if (!isValidUtf8(name) || name.find('\\') != std::string::npos)
            return fail("cannot pack " + quoted(path) +
                        ": the name is not valid UTF-8 or holds a backslash");
        out.push_back({std::move(name), path, folder, st.st_mode & 07777});
    }
    if (ec)
        return fail("cannot list " + quoted(root) + ": " + ec.message());
    std::sort(out.begin(), out.end(),
              [](const SourceEntry& a, const SourceEntry& b) { return a.name < b.name; });
    return 1;
}

// libzip deletes an archive that ends up with no entries instead of writing it, so the
// empty archive (an end-of-central-directory record alone) is written here.
bool writeEmptyArchive(int fd) {
    const unsigned char record[kEndRecordBytes] = {'P', 'K', 5, 6};
    return ::write(fd, record, sizeof record) == static_cast<ssize_t>(sizeof record);
}

bool writeArchive(const std::string& file, const std::vector<SourceEntry>& entries) {
    int code = 0;
    ZipHandle archive(zip_open(file.c_str(), ZIP_TRUNCATE, &code));
    if (!archive)
        return fail("cannot create the archive: " + zipErrorText(code));
    for (const SourceEntry& entry : entries) {
        zip_int64_t index;
        mode_t type;
        if (entry.folder) {
            index = zip_dir_add(archive.get(), entry.name.c_str(), ZIP_FL_ENC_UTF_8);
            type = S_IFDIR;
        } else {
            // Files are opened only when the archive is written out by zip_close.
            zip_source_t* source = zip_source_file(archive.get(), entry.path.c_str(), 0, 0);
            index = source
                        ? zip_file_add(archive.get(), entry.name.c_str(), source, ZIP_FL_ENC_UTF_8)
                        : -1;
            if (source && index < 0)
                zip_source_free(source);
            type = S_IFREG;
        }
        if (index < 0 || zip_file_set_external_attributes(
                             archive.get(), static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX,
                             static_cast<zip_uint32_t>(type | entry.mode) << 16) != 0)
            return fail("cannot add " + quoted(entry.path) + ": " + zip_strerror(archive.get()));
    }
    if (zip_close(archive.get()) != 0)
        return fail(std::string("cannot write the archive: ") + zip_strerror(archive.get()));
    archive.release();
    return true;
}

// ---- Unpacking ------------------------------------------------------------------------

struct PlannedEntry {
    zip_uint64_t index = 0;
    std::vector<std::string> parts;
    bool folder = false;
    zip_uint64_t size = 0;
};

// Splits an entry name into path components; false (with the reason) for a name that
// could land outside the destination or that no archive of ours would hold.
bool splitEntryName(std::string_view name, std::vector<std::string>& parts, bool& folder,
                    std::string& why) {
    if (name.empty()) {
        why = "has an empty name";
        return false;
    }
    if (name.size() > kMaxNameBytes) {
        why = "has a name that is too long";
        return false;
    }
    if (name.front() == '/') {
        why = "is absolute";
        return false;
    }
    // Backslashes separate folders for some packers; on this system they would be part
    // of a name, so "..\\x" is neither safe to follow nor meaningful to keep.
    if (name.find('\\') != std::string_view::npos) {
        why = "holds a backslash";
        return false;
    }
    folder = name.back() == '/';
    if (folder)
        name.remove_suffix(1);
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string_view::npos)
            end = name.size();
        std::string_view part = name.substr(start, end - start);
        if (part.empty() || part == ".") {
            why = "has an empty or \".\" path component";
            return false;
        }
        if (part == "..") {
            why = "climbs out with \"..\"";
            return false;
        }
        if (part.size() > kMaxComponentBytes) {
            why = "has a path component that is too long";
            return false;
        }
        parts.emplace_back(part);
        start = end + 1;
    }
    return true;
}

// Only files and folders are unpacked. The type comes from the unix mode in the external
// attributes when the packer recorded one; other packers' entries are typed by name.
bool checkEntryType(zip_t* archive, zip_uint64_t index, bool folderByName, std::string& why) {
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive, index, 0, &system, &attributes) != 0) {
        why = "has unreadable attributes";
        return false;
    }
    if (system != ZIP_OPSYS_UNIX)
        return true;
    mode_t type = (attributes >> 16) & S_IFMT;
    if (type == 0)
        return true;
    if (type == S_IFLNK) {
        why = "is a symbolic link";
        return false;
    }
    if (type != S_IFREG && type != S_IFDIR) {
        why = "is a device, fifo or socket";
        return false;
    }
    if ((type == S_IFDIR) != folderByName) {
        why = "has a type that does not match its name";
        return false;
    }
    return true;
}

// Reads the whole directory and decides before anything is written.
bool planArchive(zip_t* archive, std::vector<PlannedEntry>& plan) {
    zip_int64_t count = zip_get_num_entries(archive, 0);
    if (count < 0 || count > kMaxEntries)
        return fail("refused: the archive holds " + std::to_string(count) + " entries");
    uint64_t total = 0;
    // Every path the archive creates, true for folders; catches duplicates and names that
    // are a file in one entry and a folder in another.
    std::map<std::string, bool> paths;
    for (zip_int64_t i = 0; i < count; ++i) {
        auto index = static_cast<zip_uint64_t>(i);
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(archive, index, 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME) ||
            !(st.valid & ZIP_STAT_SIZE))
            return fail("the archive is damaged: " + std::string(zip_strerror(archive)));
        std::string name = st.name;
        auto refuse = [&](const std::string& why) {
            return fail("refused: the entry \"" + name + "\" " + why);
        };
        PlannedEntry entry;
        entry.index = index;
        entry.size = st.size;
        std::string why;
        if (!splitEntryName(name, entry.parts, entry.folder, why) ||
            !checkEntryType(archive, index, entry.folder, why))
            return refuse(why);
        if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
            return refuse("is encrypted");
        if ((st.valid & ZIP_STAT_COMP_METHOD) &&
            !zip_compression_method_supported(st.comp_method, 0))
            return refuse("uses an unsupported compression method");
        if (entry.folder && entry.size != 0)
            return refuse("is a folder with content");
        if (st.size > kMaxEntryBytes)
            return refuse("would unpack to " + std::to_string(st.size >> 20) +
                          " MiB; no file of a layer set is larger than 64 MiB");
        if (st.size > kMaxUnpackedBytes - total)
            return fail("refused: the archive would unpack to more than 1 GiB");
        total += st.size;

        std::string path;
        for (size_t p = 0; p < entry.parts.size(); ++p) {
            path += (p ? "/" : "") + entry.parts[p];
            bool last = p + 1 == entry.parts.size();
            bool wantFolder = !last || entry.folder;
            auto [it, inserted] = paths.emplace(path, wantFolder);
            if (!inserted && (!wantFolder || !it->second))
                return refuse("collides with another entry");
        }
        plan.push_back(std::move(entry));
    }
    return true;
}

// Writes the planned entries below the destination without ever following a link that
// was already there: folders are walked with openat(O_NOFOLLOW). Files are first written
// under temporary names and renamed into place only when every entry unpacked, so a
// damaged entry leaves the destination as it was (apart from folders it already had).
class Extraction {
public:
    explicit Extraction(int root) : m_root(root) {}
    ~Extraction() { closeFd(m_root); }
    Extraction(const Extraction&) = delete;
    Extraction& operator=(const Extraction&) = delete;

    bool makeFolder(const std::vector<std::string>& parts) {
        int fd = openFolder(parts, parts.size(), true);
        closeFd(fd);
        return fd >= 0;
    }

    bool unpackFile(zip_t* archive, const PlannedEntry& entry) {
        int folder = openFolder(entry.parts, entry.parts.size() - 1, true);
        if (folder < 0)
            return false;
        bool ok = unpackInto(folder, archive, entry);
        closeFd(folder);
        return ok;
    }

    bool commit() {
        for (; m_committed < m_files.size(); ++m_committed) {
            const PendingFile& file = m_files[m_committed];
            int folder = openFolder(file.parts, file.parts.size() - 1, false);
            bool ok = folder >= 0 && ::renameat(folder, file.temporary.c_str(), folder,
                                                file.parts.back().c_str()) == 0;
            int error = errno;
            closeFd(folder);
            if (!ok)
                return fail("cannot place " + joined(file.parts) + ": " + std::strerror(error));
        }
        return true;
    }

    // Removes the temporary files not yet placed and the folders this extraction made.
    void rollback() {
        for (size_t i = m_committed; i < m_files.size(); ++i) {
            int folder = openFolder(m_files[i].parts, m_files[i].parts.size() - 1, false);
            if (folder >= 0)
                ::unlinkat(folder, m_files[i].temporary.c_str(), 0);
            closeFd(folder);
        }
        for (auto it = m_createdFolders.rbegin(); it != m_createdFolders.rend(); ++it) {
            int parent = openFolder(*it, it->size() - 1, false);
            if (parent >= 0)
                ::unlinkat(parent, it->back().c_str(), AT_REMOVEDIR);
            closeFd(parent);
        }
    }

private:
    struct PendingFile {
        std::vector<std::string> parts;
        std::string temporary;
    };

    static std::string joined(const std::vector<std::string>& parts) {
        std::string text;
        for (const std::string& part : parts)
            text += (text.empty() ? "" : "/") + part;
        return "\"" + text + "\"";
    }

    // Opens the folder made of the first `count` components, creating missing ones when
    // asked. Returns a descriptor the caller closes, or -1 (reason in the last error).
    int openFolder(const std::vector<std::string>& parts, size_t count, bool create) {
        int fd = ::openat(m_root, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (size_t i = 0; fd >= 0 && i < count; ++i) {
            if (create && ::mkdirat(fd, parts[i].c_str(), 0777) == 0)
                m_createdFolders.emplace_back(parts.begin(), parts.begin() + i + 1);
            int next =
                ::openat(fd, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            int error = errno;
            ::close(fd);
            fd = next;
            if (fd < 0)
                fail("cannot open the folder " +
                     joined(std::vector<std::string>(parts.begin(), parts.begin() + i + 1)) + ": " +
                     std::strerror(error));
        }
        return fd;
    }

    int createTemporary(int folder, std::string& name) {
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            name = ".unpacking-" + std::to_string(random()) + std::to_string(random());
            int fd = ::openat(folder, name.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd >= 0 || errno != EEXIST)
                return fd;
        }
        return -1;
    }

    bool unpackInto(int folder, zip_t* archive, const PlannedEntry& entry) {
        const std::string& name = entry.parts.back();
        struct stat existing {};
        if (::fstatat(folder, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(existing.st_mode))
            return fail("cannot unpack " + joined(entry.parts) + ": a folder is in the way");

        std::string temporary;
        int fd = createTemporary(folder, temporary);
        if (fd < 0)
            return fail("cannot create a file in the destination: " +
                        std::string(std::strerror(errno)));
        m_files.push_back({entry.parts, temporary});

        zip_file_t* file = zip_fopen_index(archive, entry.index, 0);
        if (!file) {
            ::close(fd);
            return fail("cannot read " + joined(entry.parts) + ": " + zip_strerror(archive));
        }
        std::vector<char> buffer(64 * 1024);
        zip_uint64_t written = 0;
        std::string error;
        for (;;) {
            zip_int64_t n = zip_fread(file, buffer.data(), buffer.size());
            if (n < 0) {
                error = std::string("the data is damaged: ") + zip_file_strerror(file);
                break;
            }
            if (n == 0)
                break;
            written += static_cast<zip_uint64_t>(n);
            // libzip stops at the announced size; this only guards that assumption.
            if (written > entry.size) {
                error = "it is larger than announced";
                break;
            }
            if (!writeAll(fd, buffer.data(), static_cast<size_t>(n))) {
                error = std::strerror(errno);
                break;
            }
        }
        zip_fclose(file);
        if (::close(fd) != 0 && error.empty())
            error = std::strerror(errno);
        if (error.empty() && written != entry.size)
            error = "it is shorter than announced";
        if (!error.empty())
            return fail("cannot unpack " + joined(entry.parts) + ": " + error);
        return true;
    }

    static bool writeAll(int fd, const char* data, size_t size) {
        while (size > 0) {
            ssize_t n = ::write(fd, data, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            data += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }

    int m_root;
    std::vector<PendingFile> m_files;
    size_t m_committed = 0;
    std::vector<std::vector<std::string>> m_createdFolders;
};

} // namespace

extern "C" {

QX_UTILITY_API int ZippingArchiveFolder(const char16_t* sourceFolder, const char16_t* archiveFile) {
    if (!sourceFolder || !archiveFile || !*sourceFolder || !*archiveFile)
        return fail("no folder or archive given");
    fs::path source = toPath(sourceFolder);
    fs::path archive = toPath(archiveFile);
    if (!isDirectory(source))
        return fail(quoted(source) + " is not a folder");
    fs::path parent = archive.has_parent_path() ? archive.parent_path() : fs::path(".");
    if (!isDirectory(parent))
        return fail("the folder of " + quoted(archive) + " does not exist");

    std::vector<SourceEntry> entries;
    if (!collectEntries(source, archive, entries))
        return 0;

    std::string temporary = archive.native() + ".tmpXXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return fail("cannot create a file beside " + quoted(archive) + ": " + std::strerror(errno));
    // mkstemp makes the file 0600; an archive is an ordinary user file. libzip keeps the
    // mode when it replaces the file on close.
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    bool ok;
    if (entries.empty()) {
        ok = writeEmptyArchive(fd)
                 ? true
                 : fail("cannot write the archive: " + std::string(std::strerror(errno)));
        ok = ::close(fd) == 0 && ok;
    } else {
        ::close(fd);
        ok = writeArchive(temporary, entries);
    }
    if (ok && ::rename(temporary.c_str(), archive.c_str()) != 0)
        ok = fail("cannot replace " + quoted(archive) + ": " + std::strerror(errno));
    if (!ok) {
        ::unlink(temporary.c_str());
        return 0;
    }
    return succeed();
}

QX_UTILITY_API int ZippingUnarchiveFolder(const char16_t* archiveFile,
                                          const char16_t* destinationFolder) {
    if (!archiveFile || !destinationFolder || !*archiveFile || !*destinationFolder)
        return fail("no archive or folder given");
    fs::path archivePath = toPath(archiveFile);
    fs::path destination = toPath(destinationFolder);
    // Opening a fifo would block; only regular files are archives.
    if (!isRegularFile(archivePath))
        return fail(quoted(archivePath) + " is not a file");
    // libzip takes an empty file for an empty archive; none of ours is shorter than the
    // end-of-central-directory record.
    std::error_code ec;
    if (fs::file_size(archivePath, ec) < kEndRecordBytes || ec)
        return fail(quoted(archivePath) + " is not a zip archive");

    int code = 0;
    ZipHandle archive(zip_open(archivePath.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code));
    if (!archive)
        return fail("cannot open " + quoted(archivePath) + ": " + zipErrorText(code));

    std::vector<PlannedEntry> plan;
    if (!planArchive(archive.get(), plan))
        return 0;

    bool destinationExisted = fs::exists(fs::symlink_status(destination, ec));
    if (!createFolders(destination))
        return fail("cannot create " + quoted(destination));
    int root = ::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0)
        return fail("cannot open " + quoted(destination) + ": " + std::strerror(errno));

    bool ok;
    {
        Extraction extraction(root);
        ok = true;
        for (const PlannedEntry& entry : plan) {
            ok = entry.folder ? extraction.makeFolder(entry.parts)
                              : extraction.unpackFile(archive.get(), entry);
            if (!ok)
                break;
        }
        ok = ok && extraction.commit();
        if (!ok)
            extraction.rollback();
    }
    if (!ok) {
        if (!destinationExisted)
            ::rmdir(destination.c_str());
        return 0;
    }
    return succeed();
}

QX_UTILITY_API int ZippingLastError(char16_t* buffer, int capacity) {
    if (!buffer || capacity <= 0)
        return 0;
    std::u16string text = fromUtf8(t_lastError);
    size_t length = std::min(text.size(), static_cast<size_t>(capacity) - 1);
    std::copy_n(text.data(), length, buffer);
    buffer[length] = 0;
    return static_cast<int>(length);
}

} // extern "C"
