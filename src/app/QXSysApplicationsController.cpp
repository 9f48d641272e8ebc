#include "app/QXSysApplicationsController.h"

#include "app/QXProcessList.h"
#include "editor/QXGlobalImageList.h"
#include "platform/QXDispatch.h"
#include "platform/QXFiles.h"
#include "platform/QXMessages.h"
#include "platform/QXText.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kGenericProgramIcon = "application-x-executable";

// Symbolic links followed, so that "/usr/bin/vi" is listed under the name its processes
// carry ("vim.basic"). A path that cannot be resolved is taken as it is.
fs::path resolved(const fs::path& file) {
    std::error_code ec;
    fs::path canonical = fs::canonical(file, ec);
    return ec ? file : canonical;
}

} // namespace

QXSysApplicationsController::QXSysApplicationsController()
    : QXSysApplicationsController(QXDesktopFolders::fromEnvironment()) {}

QXSysApplicationsController::QXSysApplicationsController(QXDesktopFolders folders)
    : m_desktop(std::move(folders)) {
    for (const QXDesktopEntry& entry : m_desktop.entries()) {
        if (!entry.name.empty())
            m_entryByProgram.try_emplace(resolved(entry.program), entry);
        add(entry.program, &entry, false, false);
    }

    for (const auto& [pid, name] : QXProcessList::snapshot())
        setProcess(pid, name);

    QXDispatch& dispatch = QXDispatch::current();
    dispatch.RegisterHandler(QXM_HOOK_PROCESS, this, &QXSysApplicationsController::onHookProcess);
    dispatch.RegisterHandler(QXM_HOOK_ACTIVATE, this,
                             &QXSysApplicationsController::onWindowActivated);
    dispatch.RegisterHandler(QXM_HOOK_WINDOW_ACTIVATED, this,
                             &QXSysApplicationsController::onWindowActivated);
}

QXSysApplicationsController::~QXSysApplicationsController() {
    QXDispatch::current().UnregisterObject(this);
}

std::optional<QXSysApplicationsController::Application>
QXSysApplicationsController::addApplication(const std::u16string& path, bool trusted,
                                            bool userAddition) {
    const fs::path file = toPath(path);
    if (!trusted && !isRegularFile(file))
        return std::nullopt;
    auto entry = m_entryByProgram.find(resolved(file));
    return add(file, entry == m_entryByProgram.end() ? nullptr : &entry->second, trusted,
               userAddition);
}

std::optional<QXSysApplicationsController::Application>
QXSysApplicationsController::add(const fs::path& file, const QXDesktopEntry* entry, bool trusted,
                                 bool userAddition) {
    Application application;
    application.name = QXProcessList::applicationName(resolved(file));
    if (application.name.empty())
        return std::nullopt;
    if (auto it = m_byName.find(application.name); it != m_byName.end())
        return m_applications[it->second];

    QImage icon;
    if (entry) {
        application.description = entry->name;
        icon = m_desktop.loadIcon(entry->icon);
    }
    if (!trusted && (application.description.empty() || icon.isNull()))
        return std::nullopt;
    if (icon.isNull())
        icon = m_desktop.loadIcon(kGenericProgramIcon); // a null one adds a blank icon
    application.path = fromPath(file);
    application.iconIndex = QXGlobalImageList::instance().add(icon);

    const size_t index = m_applications.size();
    m_applications.push_back(application);
    m_byName.emplace(application.name, index);
    m_byDisplayText.emplace(application.displayText(), index);
    if (userAddition)
        m_userApplications.push_back(index);
    return application;
}

const QXSysApplicationsController::Application*
QXSysApplicationsController::find(std::u16string_view name) const {
    auto it = m_byName.find(QXProcessList::lowerCase(name));
    return it == m_byName.end() ? nullptr : &m_applications[it->second];
}

bool QXSysApplicationsController::isRunning(std::u16string_view name) const {
    return m_running.contains(QXProcessList::lowerCase(name));
}

bool QXSysApplicationsController::isForeground(std::u16string_view name) const {
    return !m_foreground.empty() && QXProcessList::lowerCase(name) == m_foreground;
}

int QXSysApplicationsController::iconIndex(std::u16string_view name) const {
    const Application* application = find(name);
    return application ? application->iconIndex : -1;
}

std::vector<const QXSysApplicationsController::Application*>
QXSysApplicationsController::applicationsByDisplayText() const {
    std::vector<const Application*> ordered;
    for (const auto& [text, index] : m_byDisplayText)
        ordered.push_back(&m_applications[index]);
    return ordered;
}

std::vector<const QXSysApplicationsController::Application*>
QXSysApplicationsController::userApplications() const {
    std::vector<const Application*> user;
    for (size_t index : m_userApplications)
        user.push_back(&m_applications[index]);
    return user;
}

void QXSysApplicationsController::loadFrom(const QXPropertyNode& root) {
    QXPropertyNode::Ptr applications = root.findChild(u"Applications");
    if (!applications)
        return;
    for (const QXPropertyNode::Ptr& entry : applications->children()) {
        const std::u16string path = entry->childValue(u"Path");
        // Trusted: the user chose the file, whether or not the desktop describes it.
        if (!path.empty() && isRegularFile(toPath(path)))
            addApplication(path, true, true);
    }
}

void QXSysApplicationsController::saveTo(QXPropertyNode& root) const {
    auto applications = makeQX<QXPropertyNode>(u"Applications");
    for (size_t index : m_userApplications) {
        const Application& application = m_applications[index];
        applications->addChild(application.name)->addChild(u"Path", application.path);
    }
    root.addChild(applications);
}

// ---- running set ----

void QXSysApplicationsController::setProcess(long pid, const std::u16string& name) {
    removeProcess(pid);
    m_processes.emplace(pid, name);
    m_running.insert(name);
}

void QXSysApplicationsController::removeProcess(long pid) {
    auto it = m_processes.find(pid);
    if (it == m_processes.end())
        return;
    m_running.erase(m_running.find(it->second));
    m_processes.erase(it);
}

void QXSysApplicationsController::refreshProcesses(const std::u16string& name,
                                                   const std::map<long, std::u16string>& snapshot) {
    for (auto it = m_processes.begin(); it != m_processes.end();) {
        if (it->second == name) {
            m_running.erase(m_running.find(name));
            it = m_processes.erase(it);
        } else {
            ++it;
        }
    }
    for (const auto& [pid, processName] : snapshot)
        if (processName == name)
            setProcess(pid, processName);
}

// The hook reports every process that starts or ends, one message each. Only the
// reported program's processes are brought up to date here: a change to another name
// that a snapshot happens to show is left for that process's own message, so that each
// change is announced exactly once. Running names are counted: a second copy of a running
// program, or the end of one of two copies, changes no condition and sends nothing.
void QXSysApplicationsController::onHookProcess(unsigned attached, long pid) {
    if (attached) {
        const std::optional<fs::path> program = QXProcessList::executable(pid);
        if (!program)
            return; // gone already; its end is reported next
        const std::u16string name = QXProcessList::applicationName(*program);
        if (name.empty())
            return;
        const bool wasRunning = m_running.contains(name);
        refreshProcesses(name, QXProcessList::snapshot());
        if (wasRunning || !m_running.contains(name))
            return;
        // A program not listed yet is offered to the user from now on.
        addApplication(fromPath(*program), false, true);
        QXDispatch::current().Send(QXM_RUNNING_APPS_CHANGED);
        return;
    }

    // An ended process cannot be asked for its program any more: its name is the one it
    // had when it was last seen.
    auto known = m_processes.find(pid);
    const std::u16string name =
        known != m_processes.end() ? known->second : QXProcessList::processName(pid);
    if (name.empty())
        return;
    const bool wasRunning = m_running.contains(name);
    std::map<long, std::u16string> snapshot = QXProcessList::snapshot();
    snapshot.erase(pid); // it may still be listed while it is being torn down
    removeProcess(pid);
    refreshProcesses(name, snapshot);
    if (wasRunning && !m_running.contains(name))
        QXDispatch::current().Send(QXM_RUNNING_APPS_CHANGED);
}

// A window whose owner is unknown (no _NET_WM_PID, gone, no display) makes the foreground
// application "none", so that no application condition stays true for it.
void QXSysApplicationsController::onWindowActivated(unsigned window) {
    const long pid = m_windows.windowProcessId(window);
    const std::u16string name = pid > 0 ? QXProcessList::processName(pid) : std::u16string();
    if (name == m_foreground)
        return;
    m_foreground = name;
    QXDispatch::current().Send(QXM_FOREGROUND_APP_CHANGED);
}
