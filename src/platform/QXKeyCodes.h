#pragma once

#include <cstdint>

// Keys of a PC keyboard as the X server numbers them, and the virtual-key codes the
// program identifies them by. X keycodes are the kernel's evdev codes plus 8; in the
// main block the evdev code is the PC set-1 scan code. The mapping is positional (a key
// keeps its code whatever layout is active, as for a US keyboard), so it needs no X
// connection.
namespace QXKeyCodes {

// The virtual key of an X keycode as the keyboard hook reports it: the shift, control
// and alt keys of both sides give the side-neutral VK_SHIFT, VK_CONTROL and VK_MENU;
// 0 for a key the program has no code for.
uint32_t virtualKeyFromX(uint32_t keycode);

// The same, but VK_LSHIFT/VK_RSHIFT, VK_LCONTROL/VK_RCONTROL and VK_LMENU/VK_RMENU for
// the shift, control and alt keys.
uint32_t sidedVirtualKeyFromX(uint32_t keycode);

// The X keycode that produces a virtual key, side-neutral or sided: the left-hand key
// for VK_SHIFT, VK_CONTROL and VK_MENU, the main Enter key for VK_RETURN; 0 when no key
// of a PC keyboard has that code.
uint32_t xKeycodeFromVirtualKey(uint32_t virtualKey);

} // namespace QXKeyCodes
