#include "app/QXStartupSweep.h"

#include "platform/QXFiles.h"
#include "platform/QXLog.h"

#include <cctype>
#include <string>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

bool isRegularNotLink(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isDirectoryNotLink(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", as newGuid() names the scratch folders.
bool isGuidName(const std::string& name) {
    if (name.size() != 38 || name.front() != '{' || name.back() != '}')
        return false;
    for (size_t i = 1; i + 1 < name.size(); ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? name[i] != '-' : !std::isxdigit(static_cast<unsigned char>(name[i])))
            return false;
    }
    return true;
}

} // namespace

namespace QXStartupSweep {

bool isAtomicWriterLeftover(const fs::path& name) {
    const std::string text = name.filename().string();
    constexpr size_t kSuffix = 4 + 6; // ".tmp" and mkstemp's six characters
    if (text.size() <= kSuffix || text.compare(text.size() - kSuffix, 4, ".tmp") != 0)
        return false;
    for (size_t i = text.size() - 6; i < text.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(text[i])))
            return false;
    return true;
}

size_t run(const fs::path& profile, const fs::path& temporary) {
    size_t removed = 0;
    std::error_code ec;
    if (!profile.empty() && isDirectoryNotLink(profile)) {
        std::vector<fs::path> leftovers;
        // Folder links are not followed (the iterator's default): only the profile's own
        // files are looked at.
        for (auto it = fs::recursive_directory_iterator(
                 profile, fs::directory_options::skip_permission_denied, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            if (isAtomicWriterLeftover(it->path()) && isRegularNotLink(it->path()))
                leftovers.push_back(it->path());
        for (const fs::path& file : leftovers)
            removed += fs::remove(file, ec) ? 1 : 0;
        if (ec)
            QXLog::warning(QXLog::kApp, "cannot look through " + profile.string() +
                                            " for files of an interrupted save: " + ec.message());
    }
    if (!temporary.empty() && isDirectoryNotLink(temporary)) {
        std::vector<fs::path> scratch;
        for (const auto& entry : fs::directory_iterator(temporary, ec))
            if (isGuidName(entry.path().filename().string()))
                scratch.push_back(entry.path());
        for (const fs::path& folder : scratch)
            removed += removeTree(folder) ? 1 : 0;
    }
    if (removed > 0)
        QXLog::info(QXLog::kApp, "removed " + std::to_string(removed) +
                                     " leftovers of an interrupted save or import");
    return removed;
}

} // namespace QXStartupSweep
