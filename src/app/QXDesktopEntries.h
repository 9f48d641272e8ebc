#pragma once

#include <QImage>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Where the desktop keeps its application entries and icons. Each list is in order of
// precedence: an entry or icon found in an earlier folder hides later ones.
struct QXDesktopFolders {
    std::vector<std::filesystem::path> applications; // folders of "*.desktop" files
    std::vector<std::filesystem::path> icons;        // icon theme base folders
    std::vector<std::filesystem::path> pixmaps;      // folders of icons outside any theme
    std::string iconTheme; // the user's icon theme; "hicolor" is searched after it anyway

    // $XDG_DATA_HOME (default ~/.local/share) and $XDG_DATA_DIRS (default
    // /usr/local/share:/usr/share) with "applications", "icons" and "pixmaps"; ~/.icons
    // first among the icon folders. The icon theme is Qt's platform theme's; where that
    // names none but "hicolor", the setting of the desktop XDG_CURRENT_DESKTOP names
    // (KDE's kdeglobals, or the GNOME interface settings for the others); "hicolor"
    // without one.
    static QXDesktopFolders fromEnvironment();
};

// What the applications list takes from one desktop entry.
struct QXDesktopEntry {
    std::filesystem::path file;    // the ".desktop" file
    std::filesystem::path program; // the program of its Exec line, found on the search path
    std::u16string name;           // its display name in the user's language; may be empty
    std::string icon;              // an absolute image file or an icon name; may be empty
};

// Reads desktop entries with GIO's desktop-entry reader, which decides as the desktop's
// menus do which entries are shown (Type, Hidden, NoDisplay, OnlyShowIn/NotShowIn,
// TryExec, a runnable Exec) and gives the localized name and icon. Icons come from Qt's
// icon theme lookup. GUI thread only (icons need the QGuiApplication).
class QXDesktopEntries {
public:
    static constexpr int kIconSize = 16;

    // With a QGuiApplication, makes the folders' icon theme, icon folders and pixmap
    // folders Qt's own (QIcon's theme name, search paths and fallback paths).
    explicit QXDesktopEntries(QXDesktopFolders folders);

    const QXDesktopFolders& folders() const { return m_folders; }

    // The shown entries of every applications folder and its subfolders, in folder
    // precedence order and by file name within a folder. An entry hides the entries with
    // the same desktop file id (path inside the folder, '/' read as '-') in later folders,
    // also when it is itself hidden or unusable.
    //
    // The folders are listed here rather than by g_app_info_get_all(), whose folder list
    // is fixed for the process's lifetime at its first call.
    std::vector<QXDesktopEntry> entries() const;

    // The program an Exec value starts, as its processes will be named: the first
    // argument after shell quoting, skipping field codes, leading NAME=value assignments
    // and an "env" prefix with its options and assignments ("env FOO=1 tool" starts
    // "tool", where GIO sees "env"). Nothing for a line that does not parse or names no
    // program.
    static std::optional<std::string> execProgram(std::string_view exec);

    // The icon scaled to fit 16 x 16: an absolute image file, or an icon name looked up
    // in the icon theme, the themes it inherits, "hicolor", then the pixmap folders. A
    // null image when it is not found or cannot be read.
    QImage loadIcon(std::string_view icon) const;

private:
    QXDesktopFolders m_folders;
};
