#pragma once

#include <string>
#include <vector>

// The command line of qxcfg: "/minimized" or "-minimized" (any case) starts without the
// main window, "/restart" or "-restart" takes over from a running copy, and any other
// argument containing ".layers" or ".tqlz" (any case) names a layers file to import; a
// later one replaces an earlier one, and the name keeps its case. "--help" and "--version"
// (exactly) ask for the usage or the version instead of a start.
class CQXCommandLineInfo {
public:
    CQXCommandLineInfo() = default;
    explicit CQXCommandLineInfo(const std::vector<std::string>& arguments);

    void parseParam(const std::string& argument);

    bool minimized() const { return m_minimized; }
    bool restart() const { return m_restart; }
    const std::string& layersFile() const { return m_layersFile; }
    bool help() const { return m_help; }
    bool version() const { return m_version; }

    // What "--help" prints.
    static const char* usage();

private:
    bool m_minimized = false;
    bool m_restart = false;
    bool m_help = false;
    bool m_version = false;
    std::string m_layersFile;
};
