#include "app/QXDesktopEntries.h"

#include "platform/QXFiles.h"
#include "platform/QXText.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace fs = std::filesystem;

namespace {

// Entries and theme indexes are a few kilobytes; anything much larger is not one.
constexpr size_t kMaxEntryBytes = 256 * 1024;
constexpr size_t kMaxIndexBytes = 1024 * 1024;
constexpr int kMaxFolderDepth = 8;
constexpr int kMaxEnvNesting = 4;

// ---- key files (desktop entries and theme indexes) ----

using Group = std::map<std::string, std::string, std::less<>>;
using Groups = std::map<std::string, Group, std::less<>>;

std::string_view trim(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    return text;
}

// Groups of "Key=Value" lines. A key or group given twice keeps its first value; lines
// outside a group and lines without '=' are ignored.
Groups parseKeyFile(std::string_view text) {
    Groups groups;
    Group* current = nullptr;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line = trim(line.substr(0, line.size() - 1));
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            const size_t close = line.find(']');
            current = close == std::string_view::npos
                          ? nullptr
                          : &groups[std::string(line.substr(1, close - 1))];
            continue;
        }
        const size_t equals = line.find('=');
        if (!current || equals == std::string_view::npos || equals == 0)
            continue;
        current->try_emplace(std::string(trim(line.substr(0, equals))),
                             std::string(trim(line.substr(equals + 1))));
    }
    return groups;
}

std::optional<std::string_view> value(const Group& group, std::string_view key) {
    auto it = group.find(key);
    if (it == group.end())
        return std::nullopt;
    return std::string_view(it->second);
}

// The escapes of a string value: \s \n \t \r \\. Other backslashes stay for the Exec
// quoting rules to see.
std::string unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        switch (char next = text[++i]) {
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case '\\':
            out += '\\';
            break;
        default:
            out += '\\';
            out += next;
        }
    }
    return out;
}

// Key[locale] by the locale-matching order lang_COUNTRY@MODIFIER, lang_COUNTRY,
// lang@MODIFIER, lang, then the untranslated key.
std::string_view localized(const Group& group, std::string_view key, std::string_view locale) {
    std::string_view modifier;
    if (size_t at = locale.find('@'); at != std::string_view::npos) {
        modifier = locale.substr(at + 1);
        locale = locale.substr(0, at);
    }
    locale = locale.substr(0, locale.find('.'));
    const size_t underscore = locale.find('_');
    const std::string_view lang = locale.substr(0, underscore);
    const std::string_view country =
        underscore == std::string_view::npos ? std::string_view() : locale.substr(underscore + 1);
    std::vector<std::string> tries;
    if (!lang.empty()) {
        const std::string langCountry = std::string(lang) + "_" + std::string(country);
        if (!country.empty() && !modifier.empty())
            tries.push_back(langCountry + "@" + std::string(modifier));
        if (!country.empty())
            tries.push_back(langCountry);
        if (!modifier.empty())
            tries.push_back(std::string(lang) + "@" + std::string(modifier));
        tries.emplace_back(lang);
    }
    for (const std::string& l : tries)
        if (auto v = value(group, std::string(key) + "[" + l + "]"))
            return *v;
    return value(group, key).value_or(std::string_view());
}

// ---- Exec lines ----

// Splits an Exec value into arguments: unquoted whitespace separates them; "..." quotes,
// inside which a backslash escapes " ` $ and \ (a backslash before anything else is
// kept). Outside quotes a backslash takes the next character literally.
std::optional<std::vector<std::string>> splitArguments(std::string_view line) {
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false, quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\') {
                if (i + 1 == line.size())
                    return std::nullopt;
                const char next = line[++i];
                if (next != '"' && next != '`' && next != '$' && next != '\\')
                    current += '\\';
                current += next;
            } else {
                current += c;
            }
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (inArgument)
                arguments.push_back(std::exchange(current, {}));
            inArgument = false;
        } else if (c == '"') {
            quoted = inArgument = true;
        } else if (c == '\\') {
            if (i + 1 == line.size())
                return std::nullopt;
            current += line[++i];
            inArgument = true;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (quoted)
        return std::nullopt;
    if (inArgument)
        arguments.push_back(std::move(current));
    return arguments;
}

bool isFieldCode(std::string_view argument) {
    return argument.size() == 2 && argument[0] == '%' &&
           std::string_view("fFuUdDnNickvm").find(argument[1]) != std::string_view::npos;
}

bool isAssignment(std::string_view argument) {
    const size_t equals = argument.find('=');
    if (equals == 0 || equals == std::string_view::npos)
        return false;
    const auto nameChar = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '_';
    };
    return !(argument[0] >= '0' && argument[0] <= '9') &&
           std::all_of(argument.begin(), argument.begin() + equals, nameChar);
}

std::optional<std::string> programOf(std::vector<std::string> arguments, int nesting) {
    std::erase_if(arguments, [](const std::string& a) { return isFieldCode(a); });
    size_t i = 0;
    while (i < arguments.size() && isAssignment(arguments[i]))
        ++i;
    if (i < arguments.size() && fs::path(arguments[i]).filename() == "env") {
        // env [OPTION]... [NAME=VALUE]... PROGRAM
        for (++i; i < arguments.size();) {
            const std::string& a = arguments[i];
            if (isAssignment(a)) {
                ++i;
            } else if (a == "--") {
                ++i;
                break;
            } else if (a == "-S" || a == "--split-string" || a.starts_with("-S") ||
                       a.starts_with("--split-string=")) {
                // The rest of the command is one argument to be split again.
                std::string text = a.starts_with("--split-string=") ? a.substr(15)
                                   : a.size() > 2 && a[1] == 'S'    ? a.substr(2)
                                   : i + 1 < arguments.size()       ? arguments[++i]
                                                                    : std::string();
                auto split = splitArguments(text);
                if (!split || nesting >= kMaxEnvNesting)
                    return std::nullopt;
                split->insert(split->end(), arguments.begin() + static_cast<long>(i) + 1,
                              arguments.end());
                split->insert(split->begin(), "env");
                return programOf(std::move(*split), nesting + 1);
            } else if (a == "-u" || a == "--unset" || a == "-C" || a == "--chdir") {
                i += 2;
            } else if (a.starts_with('-')) {
                ++i;
            } else {
                break;
            }
        }
    }
    if (i >= arguments.size())
        return std::nullopt;
    // "%%" is a literal percent sign; any other field code cannot be part of a program.
    std::string program;
    const std::string& a = arguments[i];
    for (size_t k = 0; k < a.size(); ++k) {
        if (a[k] == '%') {
            if (k + 1 == a.size() || a[k + 1] != '%')
                return std::nullopt;
            ++k;
        }
        program += a[k];
    }
    if (program.empty())
        return std::nullopt;
    return program;
}

bool isExecutableFile(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// ---- icons ----

int toInt(std::string_view text, int fallback) {
    int result = fallback;
    text = trim(text);
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), result);
    return error == std::errc() && end == text.data() + text.size() ? result : fallback;
}

std::vector<std::string> splitList(std::string_view text, char separator) {
    std::vector<std::string> items;
    while (!text.empty()) {
        const size_t end = text.find(separator);
        std::string_view item = trim(text.substr(0, end));
        if (!item.empty())
            items.emplace_back(item);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return items;
}

// A theme or folder name taken from a file: one path component, not hidden.
bool isPlainName(std::string_view name) {
    return !name.empty() && name.front() != '.' && name.find('/') == std::string_view::npos;
}

const std::vector<std::string>& iconExtensions() {
    static const std::vector<std::string> extensions = [] {
        std::vector<std::string> list{".png", ".xpm"};
        if (QImageReader::supportedImageFormats().contains("svg"))
            list.emplace_back(".svg");
        return list;
    }();
    return extensions;
}

QImage readIcon(const fs::path& file) {
    QImageReader reader(QFile::decodeName(QByteArray::fromStdString(file.string())));
    const QByteArray format = reader.format();
    if (format == "svg" || format == "svgz")
        reader.setScaledSize(QSize(QXDesktopEntries::kIconSize, QXDesktopEntries::kIconSize));
    QImage image = reader.read();
    if (image.isNull())
        return {};
    if (image.width() > QXDesktopEntries::kIconSize || image.height() > QXDesktopEntries::kIconSize)
        image = image.scaled(QXDesktopEntries::kIconSize, QXDesktopEntries::kIconSize,
                             Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

struct ThemeFolder {
    enum Type { Fixed, Scalable, Threshold };

    fs::path relative;
    int size = 0;
    int scale = 1;
    int minSize = 0;
    int maxSize = 0;
    int threshold = 2;
    Type type = Threshold;

    // How far the folder's pictures are from 16 x 16 at scale 1, by the icon theme rules;
    // 0 means they fit.
    int distance() const {
        constexpr int wanted = QXDesktopEntries::kIconSize;
        switch (type) {
        case Fixed:
            return std::abs(size * scale - wanted);
        case Scalable:
            if (wanted < minSize * scale)
                return minSize * scale - wanted;
            return wanted > maxSize * scale ? wanted - maxSize * scale : 0;
        case Threshold:
            if (wanted < (size - threshold) * scale)
                return minSize * scale - wanted;
            return wanted > (size + threshold) * scale ? wanted - maxSize * scale : 0;
        }
        return 0;
    }
};

struct Theme {
    std::vector<fs::path> roots; // <icon folder>/<theme> that exist
    std::vector<ThemeFolder> folders;
    std::vector<std::string> inherits;
};

ThemeFolder readThemeFolder(const std::string& name, const Group& group) {
    ThemeFolder folder;
    folder.relative = name;
    folder.size = toInt(value(group, "Size").value_or(""), 0);
    folder.scale = std::max(1, toInt(value(group, "Scale").value_or(""), 1));
    folder.minSize = toInt(value(group, "MinSize").value_or(""), folder.size);
    folder.maxSize = toInt(value(group, "MaxSize").value_or(""), folder.size);
    folder.threshold = toInt(value(group, "Threshold").value_or(""), 2);
    const std::string_view type = value(group, "Type").value_or("Threshold");
    folder.type = type == "Fixed"      ? ThemeFolder::Fixed
                  : type == "Scalable" ? ThemeFolder::Scalable
                                       : ThemeFolder::Threshold;
    return folder;
}

// A theme folder without an index: "<size>x<size>[@<scale>]/<context>" and
// "scalable/<context>", as hicolor lays them out.
std::vector<ThemeFolder> guessThemeFolders(const std::vector<fs::path>& roots) {
    std::set<fs::path> seen;
    std::vector<ThemeFolder> folders;
    for (const fs::path& root : roots) {
        std::error_code ec;
        for (const auto& sizeDir : fs::directory_iterator(root, ec)) {
            const std::string sizeName = sizeDir.path().filename().string();
            ThemeFolder folder;
            if (sizeName == "scalable") {
                folder.type = ThemeFolder::Scalable;
                folder.size = QXDesktopEntries::kIconSize;
                folder.minSize = 1;
                folder.maxSize = 512;
            } else {
                const std::string_view dims =
                    std::string_view(sizeName).substr(0, sizeName.find('@'));
                const size_t x = dims.find('x');
                if (x == std::string_view::npos || toInt(dims.substr(0, x), -1) <= 0 ||
                    toInt(dims.substr(0, x), -1) != toInt(dims.substr(x + 1), -2))
                    continue;
                folder.size = folder.minSize = folder.maxSize = toInt(dims.substr(0, x), 0);
                if (sizeName.find('@') != std::string::npos)
                    folder.scale = std::max(1, toInt(sizeName.substr(sizeName.find('@') + 1), 1));
            }
            std::error_code inner;
            for (const auto& context : fs::directory_iterator(sizeDir.path(), inner)) {
                folder.relative = fs::path(sizeName) / context.path().filename();
                if (context.is_directory(inner) && seen.insert(folder.relative).second)
                    folders.push_back(folder);
            }
        }
    }
    return folders;
}

} // namespace

// ---- folders ----

QXDesktopFolders QXDesktopFolders::fromEnvironment() {
    const auto env = [](const char* name) -> std::string {
        const char* v = std::getenv(name);
        return v ? v : "";
    };
    const auto absolute = [](const std::vector<std::string>& items) {
        std::vector<fs::path> paths;
        for (const std::string& item : items)
            if (item.starts_with('/'))
                paths.emplace_back(item);
        return paths;
    };

    QXDesktopFolders folders;
    const std::string home = env("HOME");
    fs::path dataHome = env("XDG_DATA_HOME");
    if (!dataHome.is_absolute())
        dataHome = home.empty() ? fs::path() : fs::path(home) / ".local/share";
    std::vector<fs::path> dataDirs = absolute(splitList(env("XDG_DATA_DIRS"), ':'));
    if (dataDirs.empty())
        dataDirs = {"/usr/local/share", "/usr/share"};
    if (!dataHome.empty())
        dataDirs.insert(dataDirs.begin(), dataHome);

    if (!home.empty())
        folders.icons.push_back(fs::path(home) / ".icons");
    for (const fs::path& dir : dataDirs) {
        folders.applications.push_back(dir / "applications");
        folders.icons.push_back(dir / "icons");
        folders.pixmaps.push_back(dir / "pixmaps");
    }
    const char* path = std::getenv("PATH");
    folders.programs = absolute(splitList(path ? path : "/usr/local/bin:/usr/bin:/bin", ':'));

    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (!env(name).empty()) {
            folders.locale = env(name);
            break;
        }
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        folders.iconTheme = QIcon::themeName().toStdString();
    return folders;
}

// ---- icon lookup ----

struct QXDesktopEntries::IconCache {
    std::map<std::string, std::optional<Theme>> themes;
    std::map<fs::path, std::unordered_set<std::string>> listings;

    // The file names in a folder, read once.
    const std::unordered_set<std::string>& listing(const fs::path& folder) {
        auto [it, added] = listings.try_emplace(folder);
        if (added) {
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(folder, ec))
                it->second.insert(entry.path().filename().string());
        }
        return it->second;
    }

    const Theme* theme(const std::string& name, const QXDesktopFolders& folders) {
        auto [it, added] = themes.try_emplace(name);
        if (!added || !isPlainName(name))
            return it->second ? &*it->second : nullptr;
        Theme theme;
        for (const fs::path& base : folders.icons)
            if (isDirectory(base / name))
                theme.roots.push_back(base / name);
        if (theme.roots.empty())
            return nullptr;
        std::optional<std::string> index;
        for (const fs::path& root : theme.roots)
            if ((index = readWholeFile(root / "index.theme", kMaxIndexBytes)))
                break;
        if (index) {
            const Groups groups = parseKeyFile(*index);
            const Group empty;
            auto head = groups.find("Icon Theme");
            const Group& info = head == groups.end() ? empty : head->second;
            std::vector<std::string> names =
                splitList(value(info, "Directories").value_or(""), ',');
            for (std::string& scaled :
                 splitList(value(info, "ScaledDirectories").value_or(""), ','))
                names.push_back(std::move(scaled));
            for (const std::string& folderName : names) {
                auto group = groups.find(folderName);
                if (group == groups.end() || folderName.find("..") != std::string::npos)
                    continue;
                ThemeFolder folder = readThemeFolder(folderName, group->second);
                if (folder.size > 0)
                    theme.folders.push_back(std::move(folder));
            }
            for (std::string& parent : splitList(value(info, "Inherits").value_or(""), ','))
                if (isPlainName(parent))
                    theme.inherits.push_back(std::move(parent));
        } else {
            theme.folders = guessThemeFolders(theme.roots);
        }
        it->second = std::move(theme);
        return &*it->second;
    }

    QImage lookUpInTheme(const Theme& theme, const std::string& icon) {
        struct Candidate {
            int misfit; // 0 when the folder is made for 16 x 16 at scale 1
            int distance;
            fs::path file;
        };
        std::vector<Candidate> candidates;
        for (const ThemeFolder& folder : theme.folders) {
            const int distance = folder.distance();
            const int misfit = folder.scale == 1 && distance == 0 ? 0 : 1;
            for (const fs::path& root : theme.roots) {
                const auto& files = listing(root / folder.relative);
                for (const std::string& extension : iconExtensions())
                    if (files.contains(icon + extension))
                        candidates.push_back(
                            {misfit, distance, root / folder.relative / (icon + extension)});
            }
        }
        std::stable_sort(candidates.begin(), candidates.end(), [](const auto& a, const auto& b) {
            return std::tie(a.misfit, a.distance) < std::tie(b.misfit, b.distance);
        });
        for (const Candidate& candidate : candidates)
            if (QImage image = readIcon(candidate.file); !image.isNull())
                return image;
        return {};
    }
};

// ---- entries ----

QXDesktopEntries::QXDesktopEntries(QXDesktopFolders folders)
    : m_folders(std::move(folders)), m_icons(std::make_unique<IconCache>()) {}

QXDesktopEntries::~QXDesktopEntries() = default;

std::vector<QXDesktopEntry> QXDesktopEntries::entries() const {
    std::vector<QXDesktopEntry> result;
    std::set<std::string> seenIds;
    for (const fs::path& folder : m_folders.applications) {
        std::vector<std::pair<std::string, fs::path>> files;
        std::error_code ec;
        fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied,
                                            ec);
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it.depth() >= kMaxFolderDepth)
                it.disable_recursion_pending();
            const fs::path& file = it->path();
            std::error_code typeError;
            if (file.extension() != ".desktop" || !it->is_regular_file(typeError))
                continue;
            std::string id = file.lexically_relative(folder).string();
            std::replace(id.begin(), id.end(), '/', '-');
            files.emplace_back(std::move(id), file);
        }
        std::sort(files.begin(), files.end());
        for (const auto& [id, file] : files) {
            if (!seenIds.insert(id).second)
                continue;
            if (auto entry = readEntry(file))
                result.push_back(std::move(*entry));
        }
    }
    return result;
}

std::optional<QXDesktopEntry> QXDesktopEntries::readEntry(const fs::path& file) const {
    const std::optional<std::string> text = readWholeFile(file, kMaxEntryBytes);
    if (!text)
        return std::nullopt;
    const Groups groups = parseKeyFile(*text);
    auto groupIt = groups.find("Desktop Entry");
    if (groupIt == groups.end())
        return std::nullopt;
    const Group& group = groupIt->second;
    // NoDisplay entries are helpers and handlers the desktop keeps out of its menus; the
    // user can still add such a program by hand.
    if (value(group, "Type") != "Application" || value(group, "Hidden") == "true" ||
        value(group, "NoDisplay") == "true")
        return std::nullopt;
    if (auto tryExec = value(group, "TryExec"); tryExec && !tryExec->empty())
        if (!findProgram(unescape(*tryExec)))
            return std::nullopt;
    auto exec = value(group, "Exec");
    std::optional<std::string> program = exec ? execProgram(unescape(*exec)) : std::nullopt;
    std::optional<fs::path> path = program ? findProgram(*program) : std::nullopt;
    if (!path)
        return std::nullopt;

    QXDesktopEntry entry;
    entry.file = file;
    entry.program = std::move(*path);
    entry.name = fromUtf8(trim(unescape(localized(group, "Name", m_folders.locale))));
    entry.icon = std::string(trim(unescape(value(group, "Icon").value_or(""))));
    return entry;
}

std::optional<std::string> QXDesktopEntries::execProgram(std::string_view exec) {
    auto arguments = splitArguments(exec);
    if (!arguments)
        return std::nullopt;
    return programOf(std::move(*arguments), 0);
}

std::optional<fs::path> QXDesktopEntries::findProgram(std::string_view program) const {
    if (program.empty())
        return std::nullopt;
    if (program.find('/') != std::string_view::npos) {
        // Exec allows absolute file names or bare names only.
        const fs::path path(program);
        if (path.is_absolute() && isExecutableFile(path))
            return path.lexically_normal();
        return std::nullopt;
    }
    for (const fs::path& folder : m_folders.programs) {
        fs::path candidate = folder / program;
        if (isExecutableFile(candidate))
            return candidate.lexically_normal();
    }
    return std::nullopt;
}

QImage QXDesktopEntries::loadIcon(std::string_view icon) const {
    icon = trim(icon);
    if (icon.empty())
        return {};
    if (icon.front() == '/')
        return readIcon(fs::path(icon));
    if (icon.find('/') != std::string_view::npos)
        return {};
    // Some entries name the file of an icon instead of the icon.
    std::string name(icon);
    for (std::string_view extension : {".png", ".xpm", ".svg"})
        if (name.size() > extension.size() && name.ends_with(extension))
            name.resize(name.size() - extension.size());

    // The user's theme, the themes it inherits (depth first), hicolor last.
    std::vector<std::string> order;
    std::set<std::string> visited;
    std::vector<std::string> pending;
    if (!m_folders.iconTheme.empty())
        pending.push_back(m_folders.iconTheme);
    while (!pending.empty()) {
        std::string themeName = std::move(pending.front());
        pending.erase(pending.begin());
        if (themeName == "hicolor" || !visited.insert(themeName).second)
            continue;
        order.push_back(themeName);
        if (const Theme* theme = m_icons->theme(themeName, m_folders))
            pending.insert(pending.begin(), theme->inherits.begin(), theme->inherits.end());
    }
    order.emplace_back("hicolor");

    for (const std::string& themeName : order)
        if (const Theme* theme = m_icons->theme(themeName, m_folders))
            if (QImage image = m_icons->lookUpInTheme(*theme, name); !image.isNull())
                return image;
    for (const fs::path& folder : m_folders.pixmaps) {
        const auto& files = m_icons->listing(folder);
        for (const std::string& extension : iconExtensions())
            if (files.contains(name + extension))
                if (QImage image = readIcon(folder / (name + extension)); !image.isNull())
                    return image;
    }
    return {};
}
