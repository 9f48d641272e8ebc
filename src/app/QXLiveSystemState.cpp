#include "app/QXLiveSystemState.h"

#include "app/QXProcessList.h"
#include "app/QXSysApplicationsController.h"
#include "hook/qxhk.h"
#include "platform/QXKeyboardLayouts.h"

#include <algorithm>

QXLiveSystemState::QXLiveSystemState(QXSysApplicationsController* applications)
    : m_applications(applications) {}

std::vector<uint32_t> QXLiveSystemState::layouts() const {
    std::vector<uint32_t> handles;
    if (auto installed = m_keyboard.installedLayouts())
        for (const auto& [layout, variant] : *installed)
            handles.push_back(QXKeyboardLayouts::layoutHandle(layout, variant));
    return handles;
}

uint32_t QXLiveSystemState::currentLayout() const {
    const std::vector<uint32_t> installed = layouts();
    std::optional<unsigned> group = m_keyboard.currentGroup();
    if (group && *group < installed.size())
        return installed[*group];
    // Nothing better known: the first installed layout.
    return installed.empty() ? 0 : installed.front();
}

int QXLiveSystemState::layoutIndex(uint32_t layout) const {
    const std::vector<uint32_t> installed = layouts();
    auto it = std::find(installed.begin(), installed.end(), layout);
    return it == installed.end() ? -1 : static_cast<int>(it - installed.begin());
}

uint32_t QXLiveSystemState::modifierState() const {
    const long hook = m_systemModifiers ? GetSystemModifiersState() : GetHookModifiersState();
    return static_cast<uint32_t>(hook) | (m_keyboardModifiers ? m_keyboardModifiers() : 0u);
}

bool QXLiveSystemState::isApplicationForeground(const std::u16string& id) const {
    if (m_applications)
        return m_applications->isForeground(id);
    const long pid = m_windows.windowProcessId(m_keyboard.activeWindow());
    return pid > 0 && QXProcessList::processName(pid) == QXProcessList::lowerCase(id);
}

bool QXLiveSystemState::isApplicationRunning(const std::u16string& id) const {
    if (m_applications)
        return m_applications->isRunning(id);
    const std::u16string name = QXProcessList::lowerCase(id);
    for (const auto& [pid, process] : QXProcessList::snapshot())
        if (process == name)
            return true;
    return false;
}

int QXLiveSystemState::applicationIconIndex(const std::u16string& id) const {
    return m_applications ? m_applications->iconIndex(id) : -1;
}

bool QXLiveSystemState::isKeyboardConnected() const {
    return m_connected && m_connected();
}
