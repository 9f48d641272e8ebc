#pragma once

#include "support/QXTestSupport.h"

#include <QColor>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qxtest {

// A QGuiApplication on the offscreen platform, made once for the test program.
void ensureGuiApplication();

// Counts QXM_RUNNING_APPS_CHANGED and QXM_FOREGROUND_APP_CHANGED sent on the current
// dispatch while it exists.
struct SentMessages {
    SentMessages();
    ~SentMessages();
    SentMessages(const SentMessages&) = delete;
    SentMessages& operator=(const SentMessages&) = delete;

    void onRunningChanged() { ++runningChanged; }
    void onForegroundChanged() { ++foregroundChanged; }

    int runningChanged = 0;
    int foregroundChanged = 0;
};

// A copy of /bin/sleep under a unique, mixed-case file name in the folder, so that its
// processes are the only ones of that name on the machine.
class TestProgram {
public:
    explicit TestProgram(const std::filesystem::path& folder);
    ~TestProgram();

    const std::filesystem::path& path() const { return m_path; }
    std::u16string fileName() const; // as on disk, mixed case
    std::u16string name() const;     // the application name: lower case
    // Starts a copy and returns once the process runs the program; -1 on failure.
    pid_t start();
    // Ends the copy and reaps it, so that /proc no longer lists it.
    void stop(pid_t pid);

private:
    std::filesystem::path m_path;
    std::vector<pid_t> m_running;
};

// A square picture of one colour.
void writePicture(const std::filesystem::path& file, const QColor& colour, int size = 16,
                  const char* format = "PNG");

// A desktop of the test's own: HOME, XDG_DATA_HOME, XDG_DATA_DIRS and PATH lead into a
// temporary folder and the locale is German, so the machine's own entries never show.
class TempDesktop {
public:
    TempDesktop();

    std::filesystem::path bin() const { return m_dir / "bin"; }
    std::filesystem::path dataDir() const { return m_dir / "data"; }
    std::filesystem::path dataHome() const { return m_dir / "home/.local/share"; }
    // An executable shell script at the path (relative to the temporary folder).
    std::filesystem::path program(const std::string& relative);
    // A desktop entry in the system's (or the user's) "applications" folder.
    void entry(const std::string& relative, const std::string& text, bool user = false);

    TempDir m_dir;
    ScopedEnv m_home{"HOME", (m_dir / "home").string()};
    ScopedEnv m_dataHome{"XDG_DATA_HOME", dataHome().string()};
    ScopedEnv m_dataDirs{"XDG_DATA_DIRS", dataDir().string()};
    ScopedEnv m_path{"PATH", bin().string()};
    ScopedEnv m_locale{"LC_ALL", "de_DE.UTF-8"};
    // No desktop of its own: the icon theme is hicolor, whatever the machine's desktop uses.
    ScopedEnv m_currentDesktop{"XDG_CURRENT_DESKTOP", ""};
};

} // namespace qxtest
