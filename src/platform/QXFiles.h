#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// File helpers shared by the store, the device and the plug-ins. None of them throws.

// Writes the whole content to a temporary file in the target's folder, flushes it to
// the disk and renames it over the target, so a crash or a full disk leaves either the
// old file or the new one, never a mixture. The folder must exist.
bool writeFileAtomically(const std::filesystem::path& target, std::string_view content);

// Copies a file the same way, in bounded pieces (never whole in memory). Copying a file
// onto itself succeeds without touching it.
bool copyFileAtomically(const std::filesystem::path& source, const std::filesystem::path& target);

// Watches the calls the atomic writers make, in order: "write", "sync" (the data is on
// the disk), "close", "rename" (the new name is in place), "sync-folder". Tests use it
// to see that data reaches the disk before its name does. Returns the previous one.
using QXFileCallObserver =
    std::function<void(std::string_view call, const std::filesystem::path& path)>;
QXFileCallObserver setFileCallObserver(QXFileCallObserver observer);

// Reads a whole regular file; nothing when it is missing, unreadable, not a regular
// file, or larger than maxBytes.
std::optional<std::string> readWholeFile(const std::filesystem::path& path, size_t maxBytes);
// Reads at most the first maxBytes of a regular file, however long it is; nothing when it
// is missing, unreadable or not a regular file.
std::optional<std::string> readFileStart(const std::filesystem::path& path, size_t maxBytes);

bool isRegularFile(const std::filesystem::path& path);
bool isDirectory(const std::filesystem::path& path);

// Creates the folder and its missing parents; an existing folder is not an error.
bool createFolders(const std::filesystem::path& path);

// Deletes a file or a folder with everything in it, permanently. Links are removed,
// never followed.
bool removeTree(const std::filesystem::path& path);

// Moves a file aside as "<name><suffix>", or "<name><suffix>-2", "-3"... when that
// name is taken, so nothing earlier is overwritten. Returns the new path, or nothing.
std::optional<std::filesystem::path> moveAside(const std::filesystem::path& path,
                                               std::string_view suffix);

// A single path component that is safe to use as a file or folder name inside a
// folder of ours: not empty, not "." or "..", no '/' and no NUL, and at most 255
// bytes of UTF-8.
bool isSafeFileName(std::u16string_view name);
