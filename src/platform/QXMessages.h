#pragma once

#include "platform/QXWin32.h"

#include <cstdint>

// The program's own messages, carried by the dispatch window. Parameters are
// (wParam / lParam).
enum QXMessage : uint32_t {
    QXM_HOOK_MODIFIERS = qxwin::WM_USER + 1001,     // 2025 new modifier mask / virtual key (0 from the keyboard)
    QXM_HOOK_KEY = qxwin::WM_USER + 1002,           // 2026 0 down, 1 up / virtual key
    QXM_HOOK_PROCESS = qxwin::WM_USER + 1003,       // 2027 1 started, 0 ended / process id
    QXM_HOOK_ACTIVATE = qxwin::WM_USER + 1004,      // 2028 window being activated / 0
    QXM_RUNNING_APPS_CHANGED = qxwin::WM_USER + 1005, // 2029 0 / 0
    QXM_FOREGROUND_APP_CHANGED = qxwin::WM_USER + 1006, // 2030 0 / 0
    QXM_HOOK_LANGUAGE = qxwin::WM_USER + 1007,      // 2031 keyboard layout handle / window
    QXM_HOOK_WINDOW_ACTIVATED = qxwin::WM_USER + 1008, // 2032 window / full-screen flag
    QXM_SHELL_CHANGE = qxwin::WM_USER + 1009,       // 2033 folder change notification
    QXM_LAYER_SELECTED = qxwin::WM_USER + 1010,     // 2034 0 / 0
    QXM_LAYERS_CHANGED = qxwin::WM_USER + 1011,     // 2035 0 / 0
    QXM_LAYER_STATE_CHANGED = qxwin::WM_USER + 1012, // 2036 0 / 0
    QXM_VIEW_IMAGE_CHANGED = qxwin::WM_USER + 1013, // 2037 view instance / key index
    QXM_KEY_SELECTED = qxwin::WM_USER + 1014,       // 2038 0 / 0
    QXM_KEY_EDITED = qxwin::WM_USER + 1015,         // 2039 0 / 0
    QXM_DEVICE_STATE = qxwin::WM_USER + 1016,       // 2040 0 connected, 1 disconnected / 0
    QXM_TRAY_NOTIFY = qxwin::WM_USER + 1017,        // 2041 icon id / mouse message
    QXM_SHOW_MAIN_WINDOW = qxwin::WM_USER + 1018,   // 2042 0 / 0
    QXM_KEY_CHANGED = qxwin::WM_USER + 1019,        // 2043 key index / 0
    QXM_ASSIGNMENT_CHANGED = qxwin::WM_USER + 1020, // 2044 0 / 0
    QXM_DEVICE_KEY = qxwin::WM_USER + 1021,         // 2045 key index / 1 down or 0 up
    QXM_CONDITIONS_CHANGED = qxwin::WM_USER + 1022, // 2046 0 / 0
    QXM_UPDATE_STATE = qxwin::WM_USER + 1023,       // 2047 0 / 0
    QXM_OPEN_FILE = qxwin::WM_USER + 1024,          // 2048 zero-terminated UTF-16 path / 0
    QXM_LAYER_IMPORTED = qxwin::WM_USER + 1025,     // 2049 0 / 0
};

static_assert(QXM_HOOK_MODIFIERS == 2025 && QXM_LAYER_IMPORTED == 2049);
