#pragma once

#include <filesystem>
#include <optional>

// The folders of the program on this system. Environment lookups happen at each call,
// so tests can point them elsewhere with XDG_CONFIG_HOME, XDG_DATA_HOME,
// XDG_RUNTIME_DIR and TMPDIR.
namespace QXFolders {

// $XDG_CONFIG_HOME/TesseraQuadrix (default ~/.config/TesseraQuadrix); not created.
std::filesystem::path profileFolder();

// $XDG_DATA_HOME/TesseraQuadrix (default ~/.local/share/TesseraQuadrix); not created.
std::filesystem::path dataFolder();

// The per-user runtime folder: $XDG_RUNTIME_DIR when set, else $TMPDIR (or /tmp).
std::filesystem::path runtimeFolder();

// The temporary folder of the program: runtimeFolder()/TesseraQuadrix when
// XDG_RUNTIME_DIR is set, else <tmp>/TesseraQuadrix-<uid>. Created mode 0700 on first
// use. A folder of that name that is a link or belongs to another user is never used:
// nothing is returned then, and a warning names it (see privateFolder).
std::optional<std::filesystem::path> temporaryFolder();

// The temporary folder's path without creating or checking it.
std::filesystem::path temporaryFolderPath();

// Where the single-instance lock and the hand-over socket live: $XDG_RUNTIME_DIR (a
// folder of the user's alone) when set, else a private folder <tmp>/TesseraQuadrix-<uid>.run
// created mode 0700. Nothing when that folder cannot be made safe.
std::optional<std::filesystem::path> instanceFolder();
std::filesystem::path instanceFolderPath();

// Where virtual keyboards (qxvkbd) appear: runtimeFolder()/TesseraQuadrix-virtual when
// XDG_RUNTIME_DIR is set, else <tmp>/TesseraQuadrix-virtual-<uid>; checked as
// temporaryFolder() is. Nothing when that folder cannot be made safe.
std::optional<std::filesystem::path> virtualKeyboardFolder();
std::filesystem::path virtualKeyboardFolderPath();

// A folder of the user's alone: created mode 0700 when missing (with its parents), then
// opened without following a link and checked: a folder of the user's with bits open to
// others is closed to them, anything else (a link, a file, another user's folder) is
// refused with a warning naming it. Returns the folder, or nothing.
std::optional<std::filesystem::path> privateFolder(const std::filesystem::path& folder);

// The folder of the running executable.
std::filesystem::path programFolder();

} // namespace QXFolders
