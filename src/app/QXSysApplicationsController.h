#pragma once

#include "app/QXDesktopEntries.h"
#include "app/QXX11Windows.h"
#include "platform/QXSingleton.h"
#include "store/QXPropertyNode.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// The applications the user can pick for application conditions, the set of running
// applications and the foreground application. An application is known by its name: the
// lower-cased base name of its program file with symbolic links followed ("firefox-esr"),
// which is also how running processes are named.
//
// The list is built from the desktop entries at construction; the user's own additions
// come from the profile, the editor's file picker and newly started programs. The hook
// library's messages keep the running set and the foreground application up to date:
// 2027 (process started / ended), 2028 and 2032 (window activated); the controller sends
// QXM_RUNNING_APPS_CHANGED and QXM_FOREGROUND_APP_CHANGED through the current dispatch.
// GUI thread only.
class QXSysApplicationsController : public singleton<QXSysApplicationsController> {
public:
    struct Application {
        std::u16string path;        // the program file
        std::u16string name;        // lower-case base name of the program file
        std::u16string description; // its desktop entry's Name; may be empty
        int iconIndex = -1;         // in QXGlobalImageList

        const std::u16string& displayText() const {
            return description.empty() ? name : description;
        }
    };

    // From the desktop's folders ($XDG_DATA_HOME, $XDG_DATA_DIRS, $PATH, ...).
    QXSysApplicationsController();
    // From the given folders (tests). Either way the list is built, the running set taken
    // and the messages bound on QXDispatch::current() before the constructor returns.
    explicit QXSysApplicationsController(QXDesktopFolders folders);
    ~QXSysApplicationsController();
    QXSysApplicationsController(const QXSysApplicationsController&) = delete;
    QXSysApplicationsController& operator=(const QXSysApplicationsController&) = delete;

    // Adds a program file to the list and returns its record, the existing one when an
    // application of that name is listed already. Unless trusted, the file must exist
    // and the program needs a desktop entry with a Name and a readable icon; a trusted
    // program without them is listed with no description and a generic icon. A new record
    // of a user addition is also appended to the user applications. Nothing when the
    // program is not added.
    std::optional<Application> addApplication(const std::u16string& path, bool trusted,
                                              bool userAddition = false);

    // Queries of application conditions; the name is lower-cased first.
    bool isRunning(std::u16string_view name) const;
    bool isForeground(std::u16string_view name) const;
    // The application's icon in QXGlobalImageList; -1 when it is not listed.
    int iconIndex(std::u16string_view name) const;
    // The listed application of that name, or null. Valid until the next addition.
    const Application* find(std::u16string_view name) const;

    const std::vector<Application>& applications() const { return m_applications; }
    // The listed applications ordered by display text (several may share one text).
    std::vector<const Application*> applicationsByDisplayText() const;
    // The user's additions in the order they were made.
    std::vector<const Application*> userApplications() const;
    const std::multiset<std::u16string>& runningApplications() const { return m_running; }
    const std::u16string& foregroundApplication() const { return m_foreground; }

    // Adds the "Path" of every entry of the root's "Applications" child whose file exists,
    // as a trusted user addition.
    void loadFrom(const QXPropertyNode& root);
    // Replaces the root's "Applications" child with one entry per user application, in
    // order: name -> {"Path" = path}.
    void saveTo(QXPropertyNode& root) const;

private:
    // 2027: wParam 1 when the process started, 0 when it ended; lParam its id.
    void onHookProcess(unsigned attached, long pid);
    // 2028 and 2032: wParam the X window id (32 bits in the protocol).
    void onWindowActivated(unsigned window);

    std::optional<Application> add(const std::filesystem::path& file, const QXDesktopEntry* entry,
                                   bool trusted, bool userAddition);
    void setProcess(long pid, const std::u16string& name);
    void removeProcess(long pid);
    // Replaces what is known about the processes of that name by the snapshot's.
    void refreshProcesses(const std::u16string& name,
                          const std::map<long, std::u16string>& snapshot);

    QXDesktopEntries m_desktop;
    QXX11Windows m_windows;

    std::vector<Application> m_applications;
    std::map<std::u16string, size_t> m_byName;
    std::multimap<std::u16string, size_t> m_byDisplayText;
    std::vector<size_t> m_userApplications;
    // The first desktop entry with a Name for each program (canonical path): where a
    // program added later finds its description and icon.
    std::map<std::filesystem::path, QXDesktopEntry> m_entryByProgram;

    std::map<long, std::u16string> m_processes; // process id -> name, as last seen
    std::multiset<std::u16string> m_running;    // the names of m_processes
    std::u16string m_foreground;
};
