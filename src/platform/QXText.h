#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Text is UTF-16 in memory and UTF-8 in files and in the file system. Malformed
// input never throws: invalid UTF-8 sequences and unpaired surrogates become U+FFFD.

std::u16string fromUtf8(std::string_view text);
std::string toUtf8(std::u16string_view text);

// Paths cross into the program as UTF-8 bytes; file names that are not valid UTF-8
// still round-trip through these two as long as they are only passed back.
std::filesystem::path toPath(std::u16string_view text);
std::u16string fromPath(const std::filesystem::path& path);

// Case-insensitive comparison for ASCII letters only (the keys and resource names
// the program compares this way are ASCII).
bool equalsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b);
bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);
