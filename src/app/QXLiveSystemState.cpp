#include "app/QXLiveSystemState.h"

#include "app/QXProcessList.h"
#include "app/QXSysApplicationsController.h"
#include "hook/qxhk.h"
#include "platform/QXKeyboardLayouts.h"

#include <algorithm>

QXLiveSystemState::QXLiveSystemState(QXSysApplicationsController* applications)
    : m_applications(applications) {
    refresh();
}

void QXLiveSystemState::refresh() {
    m_layouts.clear();
    if (auto installed = m_keyboard.installedLayouts())
        for (const auto& [layout, variant] : *installed)
            m_layouts.push_back(QXKeyboardLayouts::layoutHandle(layout, variant));
}

uint32_t QXLiveSystemState::currentLayout() const {
    std::optional<unsigned> group = m_keyboard.currentGroup();
    if (group && *group < m_layouts.size())
        return m_layouts[*group];
    // Nothing better known: the first installed layout.
    return m_layouts.empty() ? 0 : m_layouts.front();
}

int QXLiveSystemState::layoutIndex(uint32_t layout) const {
    auto it = std::find(m_layouts.begin(), m_layouts.end(), layout);
    return it == m_layouts.end() ? -1 : static_cast<int>(it - m_layouts.begin());
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
