#pragma once

#include <QImage>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Where the desktop keeps its application entries, icons and programs. Each list is in
// order of precedence: an entry or icon found in an earlier folder hides later ones.
struct QXDesktopFolders {
    std::vector<std::filesystem::path> applications; // folders of "*.desktop" files
    std::vector<std::filesystem::path> icons;        // icon theme base folders
    std::vector<std::filesystem::path> pixmaps;      // folders of icons outside any theme
    std::vector<std::filesystem::path> programs;     // the program search path
    std::string iconTheme; // the user's icon theme; "hicolor" is searched after it anyway
    std::string locale;    // messages locale such as "de_DE.UTF-8"; empty: untranslated

    // $XDG_DATA_HOME (default ~/.local/share) and $XDG_DATA_DIRS (default
    // /usr/local/share:/usr/share) with "applications", "icons" and "pixmaps"; ~/.icons
    // first among the icon folders; $PATH; LC_ALL, LC_MESSAGES or LANG. The icon theme
    // is Qt's when a QGuiApplication exists, otherwise none.
    static QXDesktopFolders fromEnvironment();
};

// What the applications list takes from one desktop entry.
struct QXDesktopEntry {
    std::filesystem::path file;    // the ".desktop" file
    std::filesystem::path program; // the program of its Exec line, found on the search path
    std::u16string name;           // Name, in the locale's language when it has one; may be empty
    std::string icon;              // Icon: an absolute file name or an icon name; may be empty
};

// Reads desktop entries (the [Desktop Entry] group of "*.desktop" files) and finds
// their icons in the icon themes. Folder listings and theme indexes are read once and
// kept. Not thread-safe; cheap to keep for the program's lifetime.
class QXDesktopEntries {
public:
    static constexpr int kIconSize = 16;

    explicit QXDesktopEntries(QXDesktopFolders folders);
    ~QXDesktopEntries();
    QXDesktopEntries(const QXDesktopEntries&) = delete;
    QXDesktopEntries& operator=(const QXDesktopEntries&) = delete;

    const QXDesktopFolders& folders() const { return m_folders; }

    // The entries of every applications folder and its subfolders that describe a program
    // that can be started, in folder precedence order and by file name within a folder.
    // An entry hides the entries with the same desktop file id (path inside the folder,
    // '/' read as '-') in later folders, also when it is itself hidden or unusable.
    std::vector<QXDesktopEntry> entries() const;

    // One entry file; nothing when it is not usable: no [Desktop Entry] group, Type other
    // than "Application", Hidden or NoDisplay true, a TryExec program that is not there,
    // no Exec, an Exec line that does not parse, or a program that is not an executable
    // file. Name and Icon may be missing: the caller decides.
    std::optional<QXDesktopEntry> readEntry(const std::filesystem::path& file) const;

    // The program an Exec value (already unescaped as a desktop-entry string) starts:
    // its first argument after the quoting rules (double quotes; inside them \" \` \$ \\),
    // skipping an "env" prefix with its options and NAME=value assignments, and leading
    // assignments without one. Nothing for an empty line, an unterminated quote, a
    // dangling backslash or a program that is a field code.
    static std::optional<std::string> execProgram(std::string_view exec);

    // A program as Exec or TryExec names it: an absolute file name, or a bare name looked
    // up on the search path. Nothing when no executable regular file is found.
    std::optional<std::filesystem::path> findProgram(std::string_view program) const;

    // The icon scaled to fit 16 x 16: an absolute image file, or an icon name looked up
    // in the icon theme, the themes it inherits, "hicolor", then the pixmap folders,
    // preferring the picture whose size is nearest 16. A null image when it is not found
    // or cannot be read.
    QImage loadIcon(std::string_view icon) const;

private:
    struct IconCache;

    QXDesktopFolders m_folders;
    std::unique_ptr<IconCache> m_icons;
};
