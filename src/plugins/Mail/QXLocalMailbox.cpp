#include "QXLocalMailbox.h"

#include "platform/QXLog.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <pwd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr unsigned kFolderEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                   IN_CLOSE_WRITE | IN_MODIFY | IN_DELETE_SELF | IN_MOVE_SELF;

bool isDirectory(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isFile(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash ? slash : 1);
}

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string userName() {
    std::string user = env("USER");
    if (user.empty())
        if (const passwd* pw = ::getpwuid(::getuid()))
            user = pw->pw_name;
    return user;
}

// Where the store is, or may appear: a Maildir or an mbox, and the folders to watch
// while there is none.
struct StorePlace {
    std::string maildir;
    std::string mbox;
    std::vector<std::string> candidates;
};

StorePlace findStore() {
    StorePlace place;
    const std::string mail = env("MAIL");
    const std::string home = env("HOME");
    if (!mail.empty() && isDirectory(mail + "/new")) {
        place.maildir = mail;
        return place;
    }
    if (!mail.empty() && isFile(mail)) {
        place.mbox = mail;
        return place;
    }
    if (!home.empty() && isDirectory(home + "/Maildir/new")) {
        place.maildir = home + "/Maildir";
        return place;
    }
    const std::string spool = mail.empty() ? "/var/mail/" + userName() : mail;
    if (isFile(spool)) {
        place.mbox = spool;
        return place;
    }
    if (!home.empty()) {
        place.candidates.push_back(home);
        if (isDirectory(home + "/Maildir"))
            place.candidates.push_back(home + "/Maildir");
    }
    place.candidates.push_back(folderOf(spool));
    return place;
}

} // namespace

QXLocalMailbox::QXLocalMailbox() : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (m_fd < 0)
        QXLog::warning(QXLog::kPlugins, std::string("Local mail: inotify unavailable (") +
                                            std::strerror(errno) +
                                            "), the mailbox is counted at every update");
}

QXLocalMailbox::~QXLocalMailbox() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool QXLocalMailbox::changed() {
    if (m_fd < 0)
        return true;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n > 0) {
            m_dirty = true; // drain the rest too, so the next check is one read again
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    return m_dirty;
}

int QXLocalMailbox::count() {
    m_dirty = false;
    unwatchAll();
    StorePlace place = findStore();
    if (!place.maildir.empty()) {
        watch(place.maildir + "/new", kFolderEvents);
        return countMaildirNew(place.maildir);
    }
    if (!place.mbox.empty()) {
        // The folder, not the file: delivery agents replace mbox files by renaming.
        watch(folderOf(place.mbox), kFolderEvents);
        return countMboxUnread(place.mbox);
    }
    for (const std::string& folder : place.candidates)
        watch(folder, IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF);
    return -1;
}

void QXLocalMailbox::watch(const std::string& path, unsigned mask) {
    if (m_fd >= 0 && ::inotify_add_watch(m_fd, path.c_str(), mask) < 0)
        m_dirty = true; // unwatched: count again next time rather than miss a change
}

void QXLocalMailbox::unwatchAll() {
    if (m_fd < 0)
        return;
    // Closing drops every watch at once; pending events of the old watches go with it.
    int fresh = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fresh < 0)
        return;
    ::close(m_fd);
    m_fd = fresh;
}

int QXLocalMailbox::countMaildirNew(const std::string& maildir) {
    auto closer = [](DIR* d) { ::closedir(d); };
    std::unique_ptr<DIR, decltype(closer)> dir(::opendir((maildir + "/new").c_str()), closer);
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* entry = ::readdir(dir.get()))
        if (entry->d_name[0] != '.') // ".", ".." and hidden files are no messages
            ++count;
    return count;
}

int QXLocalMailbox::countMboxUnread(const std::string& mbox) {
    auto closer = [](FILE* f) { std::fclose(f); };
    std::unique_ptr<FILE, decltype(closer)> file(std::fopen(mbox.c_str(), "re"), closer);
    if (!file)
        return -1;
    int unread = 0;
    bool inHeaders = false, read = false, previousBlank = true;
    char* line = nullptr;
    size_t capacity = 0;
    ssize_t length;
    while ((length = ::getline(&line, &capacity, file.get())) >= 0) {
        std::string_view text(line, static_cast<size_t>(length));
        if (previousBlank && text.starts_with("From ")) {
            if (inHeaders && !read)
                ++unread; // a message with no body
            inHeaders = true;
            read = false;
        } else if (inHeaders) {
            if (text == "\n" || text == "\r\n") {
                if (!read)
                    ++unread;
                inHeaders = false;
            } else if (text.starts_with("Status:") &&
                       text.substr(7).find('R') != std::string_view::npos) {
                read = true;
            }
        }
        previousBlank = text == "\n" || text == "\r\n";
    }
    if (inHeaders && !read)
        ++unread;
    std::free(line);
    return unread;
}
