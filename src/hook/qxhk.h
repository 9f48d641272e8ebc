#pragma once

// The keyboard hook library: watches the X session on a thread of its own and reports
// to the program's dispatch target: modifier and lock changes, other key presses and
// releases, window activation, keyboard-layout (group) changes, and processes that
// start and end. It keeps the current modifier mask for the program to read at any
// time. Nothing is allocated across this boundary: the target is an opaque handle that
// the library only passes back to the post function.

#include <cstdint>

#if defined(QX_HOOK_BUILD)
#define QXHK_API __attribute__((visibility("default")))
#else
#define QXHK_API
#endif

extern "C" {

// Delivers one message to the target without waiting for it to be handled. Called on
// the library's own thread; it must not block.
typedef void (*QXHookPostFunction)(void* target, uint32_t message, uintptr_t wParam,
                                   intptr_t lParam);

// Takes the current system mask as the modifier mask and starts watching, reporting
// to target through post. Returns 1 when the hooks are installed; 0 when there is no X
// display to watch (then nothing is reported and the mask stays 0) or when hooks are
// already installed.
QXHK_API int Hook(void* target, QXHookPostFunction post);

// Clears the target first (nothing is posted from that moment on), then stops watching.
// When it returns the library's thread has ended.
QXHK_API void UnHook();

// The modifier mask as the hooks last saw it: 1 Alt, 2 Ctrl, 4 Shift, 8 Windows (the
// left Super key only), 16 Caps Lock on, 32 Kana on, 64 Num Lock on, 128 Scroll Lock on.
QXHK_API long GetHookModifiersState();

// The same mask read from the X server now (held keys and lock states); 0 without a
// display.
QXHK_API long GetSystemModifiersState();

} // extern "C"
