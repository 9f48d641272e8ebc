// GIO first: its headers use the name "signals", which Qt's headers define as a keyword.
// clang-format off
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
// clang-format on

#include "app/QXDesktopEntries.h"

#include "platform/QXText.h"

#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <set>

namespace fs = std::filesystem;

namespace {

constexpr int kMaxFolderDepth = 8;
constexpr int kMaxEnvNesting = 4;

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <class T> using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GFree {
    void operator()(gpointer memory) const { g_free(memory); }
};
using GText = std::unique_ptr<gchar, GFree>;

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::vector<fs::path> absoluteList(const std::string& text) {
    std::vector<fs::path> paths;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(':', start), text.size());
        const std::string item = text.substr(start, end - start);
        if (item.starts_with('/'))
            paths.emplace_back(item);
        start = end + 1;
    }
    return paths;
}

// ---- the desktop's icon theme ----

std::string gnomeIconTheme() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source)
        return {};
    // Asking GSettings for a schema it does not have ends the process: look first.
    GSettingsSchema* schema =
        g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE);
    if (!schema)
        return {};
    const bool hasKey = g_settings_schema_has_key(schema, "icon-theme");
    g_settings_schema_unref(schema);
    if (!hasKey)
        return {};
    GObjectPtr<GSettings> settings(g_settings_new("org.gnome.desktop.interface"));
    const GText theme(g_settings_get_string(settings.get(), "icon-theme"));
    return theme ? theme.get() : "";
}

std::string kdeIconTheme() {
    fs::path config = env("XDG_CONFIG_HOME");
    if (!config.is_absolute())
        config = fs::path(env("HOME")) / ".config";
    GKeyFile* file = g_key_file_new();
    std::string theme;
    if (g_key_file_load_from_file(file, (config / "kdeglobals").c_str(), G_KEY_FILE_NONE, nullptr))
        if (const GText value(g_key_file_get_string(file, "Icons", "Theme", nullptr)); value)
            theme = value.get();
    g_key_file_free(file);
    return theme;
}

// Qt's platform theme knows the desktop's icon theme on the desktops it integrates with;
// elsewhere it says "hicolor" or nothing, and the setting of the desktop named by
// XDG_CURRENT_DESKTOP is read: KDE's kdeglobals, or the GNOME interface settings that
// the GTK-based desktops share. GLib keeps the folders it reads settings from for the
// process's lifetime, so GSettings is not asked outside such a desktop.
std::string desktopIconTheme() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        const QString qt = QIcon::themeName();
        if (!qt.isEmpty() && qt != QLatin1String("hicolor"))
            return qt.toStdString();
    }
    const std::string desktop = env("XDG_CURRENT_DESKTOP");
    std::string theme;
    if (desktop.find("KDE") != std::string::npos)
        theme = kdeIconTheme();
    else if (!desktop.empty())
        theme = gnomeIconTheme();
    // The theme every other one falls back on.
    return theme.empty() ? "hicolor" : theme;
}

QStringList toStrings(const std::vector<fs::path>& paths) {
    QStringList list;
    for (const fs::path& path : paths)
        list.append(QFile::decodeName(QByteArray::fromStdString(path.string())));
    return list;
}

QImage fitted(QImage image) {
    constexpr int size = QXDesktopEntries::kIconSize;
    if (!image.isNull() && (image.width() > size || image.height() > size))
        image = image.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

// ---- Exec lines ----

bool isFieldCode(std::string_view argument) {
    return argument.size() == 2 && argument[0] == '%' &&
           std::string_view("fFuUdDnNickvm").find(argument[1]) != std::string_view::npos;
}

bool isAssignment(std::string_view argument) {
    const size_t equals = argument.find('=');
    if (equals == 0 || equals == std::string_view::npos ||
        (argument[0] >= '0' && argument[0] <= '9'))
        return false;
    return std::all_of(argument.begin(), argument.begin() + static_cast<long>(equals), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '_';
    });
}

std::optional<std::vector<std::string>> shellSplit(std::string_view line) {
    gint count = 0;
    gchar** argv = nullptr;
    if (!g_shell_parse_argv(std::string(line).c_str(), &count, &argv, nullptr))
        return std::nullopt;
    std::vector<std::string> arguments(argv, argv + count);
    g_strfreev(argv);
    return arguments;
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
            } else if (a == "-S" || a.starts_with("-S") || a.starts_with("--split-string")) {
                // The rest of the command is one argument to be split again.
                std::string text = a.starts_with("--split-string=") ? a.substr(15)
                                   : a.size() > 2 && a[1] == 'S'    ? a.substr(2)
                                   : i + 1 < arguments.size()       ? arguments[++i]
                                                                    : std::string();
                auto split = shellSplit(text);
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
    if (program.empty() || program.back() == '\\')
        return std::nullopt;
    return program;
}

std::optional<fs::path> onSearchPath(const std::string& program) {
    const GText found(g_find_program_in_path(program.c_str()));
    if (!found)
        return std::nullopt;
    return fs::path(found.get()).lexically_normal();
}

std::optional<QXDesktopEntry> readEntry(const fs::path& file) {
    GObjectPtr<GDesktopAppInfo> info(g_desktop_app_info_new_from_filename(file.c_str()));
    if (!info)
        return std::nullopt; // not an application, or its TryExec or program is not there
    GAppInfo* application = G_APP_INFO(info.get());
    // NoDisplay entries are helpers and handlers the desktop keeps out of its menus; the
    // user can still add such a program by hand.
    if (g_desktop_app_info_get_is_hidden(info.get()) || !g_app_info_should_show(application))
        return std::nullopt;
    // GIO has checked that the Exec line parses and its program is there; which program
    // runs in the end is read here, as GIO's executable is the line's first word only.
    const GText exec(g_desktop_app_info_get_string(info.get(), "Exec"));
    const std::optional<std::string> program =
        exec ? QXDesktopEntries::execProgram(exec.get()) : std::nullopt;
    std::optional<fs::path> path = program ? onSearchPath(*program) : std::nullopt;
    if (!path)
        return std::nullopt;

    QXDesktopEntry entry;
    entry.file = file;
    entry.program = std::move(*path);
    // Without a Name GIO makes one up ("Unnamed"); the list leaves such entries out.
    if (const GText name(g_desktop_app_info_get_locale_string(info.get(), "Name")); name)
        if (const char* shown = g_app_info_get_display_name(application))
            entry.name = fromUtf8(shown);
    if (GIcon* icon = g_app_info_get_icon(application)) {
        if (G_IS_THEMED_ICON(icon)) {
            const gchar* const* names = g_themed_icon_get_names(G_THEMED_ICON(icon));
            if (names && names[0])
                entry.icon = names[0];
        } else if (G_IS_FILE_ICON(icon)) {
            if (const GText iconFile(g_file_get_path(g_file_icon_get_file(G_FILE_ICON(icon))));
                iconFile)
                entry.icon = iconFile.get();
        }
    }
    return entry;
}

} // namespace

// ---- folders ----

QXDesktopFolders QXDesktopFolders::fromEnvironment() {
    QXDesktopFolders folders;
    const std::string home = env("HOME");
    fs::path dataHome = env("XDG_DATA_HOME");
    if (!dataHome.is_absolute())
        dataHome = home.empty() ? fs::path() : fs::path(home) / ".local/share";
    std::vector<fs::path> dataDirs = absoluteList(env("XDG_DATA_DIRS"));
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
    folders.iconTheme = desktopIconTheme();
    return folders;
}

// ---- entries ----

QXDesktopEntries::QXDesktopEntries(QXDesktopFolders folders) : m_folders(std::move(folders)) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    // Qt reads its icon folders once per process; these are the ones the list was made
    // from. Qt's own resource folders stay first.
    QStringList searchPaths;
    for (const QString& path : QIcon::themeSearchPaths())
        if (path.startsWith(QLatin1Char(':')))
            searchPaths.append(path);
    QIcon::setThemeSearchPaths(searchPaths + toStrings(m_folders.icons));
    QIcon::setFallbackSearchPaths(toStrings(m_folders.pixmaps));
    QIcon::setThemeName(
        QString::fromStdString(m_folders.iconTheme.empty() ? "hicolor" : m_folders.iconTheme));
}

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

std::optional<std::string> QXDesktopEntries::execProgram(std::string_view exec) {
    auto arguments = shellSplit(exec);
    if (!arguments)
        return std::nullopt;
    return programOf(std::move(*arguments), 0);
}

QImage QXDesktopEntries::loadIcon(std::string_view icon) const {
    if (icon.empty())
        return {};
    if (icon.front() == '/') {
        QImageReader reader(
            QFile::decodeName(QByteArray(icon.data(), static_cast<qsizetype>(icon.size()))));
        if (reader.format() == "svg" || reader.format() == "svgz")
            reader.setScaledSize(QSize(kIconSize, kIconSize));
        return fitted(reader.read());
    }
    if (icon.find('/') != std::string_view::npos ||
        !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return {};
    const QIcon themed =
        QIcon::fromTheme(QString::fromUtf8(icon.data(), static_cast<qsizetype>(icon.size())));
    if (themed.isNull())
        return {};
    return fitted(themed.pixmap(QSize(kIconSize, kIconSize), 1.0).toImage());
}
