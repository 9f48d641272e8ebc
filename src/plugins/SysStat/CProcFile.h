#pragma once

#include <string>
#include <string_view>
#include <vector>

// A kernel figures file (/proc/stat, /proc/meminfo, /proc/net/dev) read again and again: it
// stays open and is read from its start each time into a buffer that only grows, so a
// reading a second costs no opening and no allocation. The kernel makes the text afresh for
// every read. Not thread-safe.
class CProcFile {
public:
    explicit CProcFile(std::string path) : m_path(std::move(path)) {}
    ~CProcFile();
    CProcFile(const CProcFile&) = delete;
    CProcFile& operator=(const CProcFile&) = delete;

    // The whole file as it reads now, valid until the next call; empty when it cannot be
    // read (told to the log once, then quietly tried again at every call).
    std::string_view read();

private:
    std::string m_path;
    int m_fd = -1;
    std::vector<char> m_buffer = std::vector<char>(4096);
    bool m_warned = false;
};
