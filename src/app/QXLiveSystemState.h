#pragma once

#include "app/QXX11Keyboard.h"
#include "app/QXX11Windows.h"
#include "model/QXCondition.h"

#include <functional>
#include <vector>

class QXSysApplicationsController;

// Conditions' answers from the running system: the keyboard layout of the X server's
// current group, the hook library's modifier mask together with what the keyboard
// itself reported, the applications list, and whether a keyboard is connected.
//
// The layouts are read from the server at every question, never kept: the user may
// install, remove or reorder them at any time (setxkbmap), and a group number means
// nothing without the list it indexes.
//
// Without an applications controller (the command-line tool) it reads the running
// processes and the active window's owner itself at each question.
class QXLiveSystemState : public QXSystemState {
public:
    explicit QXLiveSystemState(QXSysApplicationsController* applications = nullptr);

    uint32_t currentLayout() const override;
    int layoutIndex(uint32_t layout) const override;
    uint32_t modifierState() const override;
    bool isApplicationForeground(const std::u16string& id) const override;
    bool isApplicationRunning(const std::u16string& id) const override;
    int applicationIconIndex(const std::u16string& id) const override;
    bool isKeyboardConnected() const override;

    // The installed layouts' handles in group order, as the server has them now.
    std::vector<uint32_t> layouts() const;
    QXX11Keyboard& keyboard() { return m_keyboard; }

    // The hook's mask is read from the hook library; without hooks installed, from the
    // X server at each question (the command-line tool).
    void setUseSystemModifiers(bool system) { m_systemModifiers = system; }
    // The modifier and lock mask the keyboard last reported: a fixed mask, or asked of
    // the device side at each question.
    void setKeyboardModifiers(uint32_t mask) {
        m_keyboardModifiers = [mask] { return mask; };
    }
    void setKeyboardModifiers(std::function<uint32_t()> mask) { m_keyboardModifiers = std::move(mask); }
    // Whether a keyboard is connected; the device side tells.
    void setKeyboardConnected(std::function<bool()> connected) { m_connected = std::move(connected); }

private:
    QXSysApplicationsController* m_applications;
    mutable QXX11Keyboard m_keyboard;
    mutable QXX11Windows m_windows;
    bool m_systemModifiers = false;
    std::function<uint32_t()> m_keyboardModifiers;
    std::function<bool()> m_connected;
};
