#include "model/QXKeyTable.h"

#include "model/QXModelResources.h"
#include "platform/QXText.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <vector>

namespace {

// Key index order runs row by row from the function-key row down and left to right within a
// row; the extra keys L1 to L10 start rows 1 to 5.
// Columns: virtual key, scan code, display number, code slot, action code, name, label, flags.
constexpr std::array<QXKeyRecord, QXKeyTable::kKeyCount> kKeys{{
    {0x1B, 0x01, 99, 8, 0x29, u"Escape", u"Esc", 0x41},           // 0
    {0x70, 0x3B, 100, 16, 0x3A, u"F1", u"F1", 0x49},              // 1
    {0x71, 0x3C, 101, 24, 0x3B, u"F2", u"F2", 0x49},              // 2
    {0x72, 0x3D, 102, 32, 0x3C, u"F3", u"F3", 0x49},              // 3
    {0x73, 0x3E, 103, 40, 0x3D, u"F4", u"F4", 0x49},              // 4
    {0x74, 0x3F, 104, 48, 0x3E, u"F5", u"F5", 0x49},              // 5
    {0x75, 0x40, 105, 56, 0x3F, u"F6", u"F6", 0x49},              // 6
    {0x76, 0x41, 106, 64, 0x40, u"F7", u"F7", 0x89},              // 7
    {0x77, 0x42, 107, 72, 0x41, u"F8", u"F8", 0x89},              // 8
    {0x78, 0x43, 108, 80, 0x42, u"F9", u"F9", 0x89},              // 9
    {0x79, 0x44, 109, 88, 0x43, u"F10", u"F10", 0x89},            // 10
    {0x7A, 0x57, 110, 96, 0x44, u"F11", u"F11", 0x89},            // 11
    {0x7B, 0x58, 111, 104, 0x45, u"F12", u"F12", 0x89},           // 12
    {0x2C, 0x54, 112, 2, 0x46, u"PrintScreen", u"PrtScr", 0x01},  // 13
    {0x91, 0x46, 113, 10, 0x47, u"ScrollLock", u"Scroll", 0x05},  // 14
    {0x13, 0x59, 114, 18, 0x48, u"Pause", u"Pause", 0x01},        // 15
    {0x00, 0x00, 97, 7, 0x00, u"L1", u"L1", 0x60},                // 16
    {0x00, 0x00, 98, 47, 0x00, u"L2", u"L2", 0x60},               // 17
    {0xC0, 0x29, 88, 6, 0x35, u"GraveAccent", u"`", 0x40},        // 18
    {0x31, 0x02, 87, 14, 0x1E, u"1", u"1", 0x40},                 // 19
    {0x32, 0x03, 74, 22, 0x1F, u"2", u"2", 0x40},                 // 20
    {0x33, 0x04, 73, 30, 0x20, u"3", u"3", 0x40},                 // 21
    {0x34, 0x05, 72, 38, 0x21, u"4", u"4", 0x40},                 // 22
    {0x35, 0x06, 71, 46, 0x22, u"5", u"5", 0x40},                 // 23
    {0x36, 0x07, 58, 54, 0x23, u"6", u"6", 0x40},                 // 24
    {0x37, 0x08, 57, 62, 0x24, u"7", u"7", 0x80},                 // 25
    {0x38, 0x09, 56, 70, 0x25, u"8", u"8", 0x80},                 // 26
    {0x39, 0x0A, 55, 78, 0x26, u"9", u"9", 0x80},                 // 27
    {0x30, 0x0B, 42, 86, 0x27, u"0", u"0", 0x80},                 // 28
    {0xBD, 0x0C, 41, 94, 0x2D, u"Minus", u"-", 0x80},             // 29
    {0xBB, 0x0D, 40, 102, 0x2E, u"Plus", u"+", 0x80},             // 30
    {0x08, 0x0E, 39, 110, 0x2A, u"Backspace", u"Back", 0x81},     // 31
    {0x2D, 0x52, 21, 26, 0x49, u"Insert", u"Ins", 0x01},          // 32
    {0x24, 0x47, 20, 34, 0x4A, u"Home", u"Home", 0x01},           // 33
    {0x21, 0x49, 19, 42, 0x4B, u"PageUp", u"PgUp", 0x01},         // 34
    {0x90, 0x45, 18, 1, 0x53, u"NumLock", u"Num", 0x07},          // 35
    {0x6F, 0x35, 17, 9, 0x54, u"KeypadDivide", u"/", 0x02},       // 36
    {0x6A, 0x37, 16, 17, 0x55, u"KeypadMultiply", u"*", 0x02},    // 37
    {0x6D, 0x4A, 15, 25, 0x56, u"KeypadMinus", u"-", 0x02},       // 38
    {0x00, 0x00, 96, 15, 0x00, u"L3", u"L3", 0x60},               // 39
    {0x00, 0x00, 89, 55, 0x00, u"L4", u"L4", 0x60},               // 40
    {0x09, 0x0F, 85, 5, 0x2B, u"Tab", u"Tab", 0x41},              // 41
    {0x51, 0x10, 86, 13, 0x14, u"Q", u"Q", 0x40},                 // 42
    {0x57, 0x11, 75, 21, 0x1A, u"W", u"W", 0x40},                 // 43
    {0x45, 0x12, 69, 29, 0x08, u"E", u"E", 0x40},                 // 44
    {0x52, 0x13, 70, 37, 0x15, u"R", u"R", 0x40},                 // 45
    {0x54, 0x14, 59, 45, 0x17, u"T", u"T", 0x40},                 // 46
    {0x59, 0x15, 60, 53, 0x1C, u"Y", u"Y", 0x80},                 // 47
    {0x55, 0x16, 54, 61, 0x18, u"U", u"U", 0x80},                 // 48
    {0x49, 0x17, 53, 69, 0x0C, u"I", u"I", 0x80},                 // 49
    {0x4F, 0x18, 43, 77, 0x12, u"O", u"O", 0x80},                 // 50
    {0x50, 0x19, 44, 85, 0x13, u"P", u"P", 0x80},                 // 51
    {0xDB, 0x1A, 38, 93, 0x2F, u"BraceSquareLeft", u"[", 0x80},   // 52
    {0xDD, 0x1B, 37, 101, 0x30, u"BraceSquareRight", u"]", 0x80}, // 53
    {0xDC, 0x2B, 36, 109, 0x31, u"StraightSlash", u"\\", 0x80},   // 54
    {0x2E, 0x53, 22, 50, 0x4C, u"Delete", u"Del", 0x01},          // 55
    {0x23, 0x4F, 23, 58, 0x4D, u"End", u"End", 0x01},             // 56
    {0x22, 0x51, 24, 66, 0x4E, u"PageDown", u"PgDn", 0x01},       // 57
    {0x67, 0x47, 11, 33, 0x5F, u"Keypad7", u"7", 0x02},           // 58
    {0x68, 0x48, 12, 41, 0x60, u"Keypad8", u"8", 0x02},           // 59
    {0x69, 0x49, 13, 49, 0x61, u"Keypad9", u"9", 0x02},           // 60
    {0x00, 0x00, 95, 23, 0x00, u"L5", u"L5", 0x60},               // 61
    {0x00, 0x00, 90, 63, 0x00, u"L6", u"L6", 0x60},               // 62
    {0x14, 0x3A, 84, 4, 0x39, u"CapsLock", u"Caps", 0x45},        // 63
    {0x41, 0x1E, 83, 12, 0x04, u"A", u"A", 0x40},                 // 64
    {0x53, 0x1F, 76, 20, 0x16, u"S", u"S", 0x40},                 // 65
    {0x44, 0x20, 68, 28, 0x07, u"D", u"D", 0x40},                 // 66
    {0x46, 0x21, 67, 36, 0x09, u"F", u"F", 0x40},                 // 67
    {0x47, 0x22, 62, 44, 0x0A, u"G", u"G", 0x40},                 // 68
    {0x48, 0x23, 61, 52, 0x0B, u"H", u"H", 0x80},                 // 69
    {0x4A, 0x24, 51, 60, 0x0D, u"J", u"J", 0x80},                 // 70
    {0x4B, 0x25, 52, 68, 0x0E, u"K", u"K", 0x80},                 // 71
    {0x4C, 0x26, 46, 76, 0x0F, u"L", u"L", 0x80},                 // 72
    {0xBA, 0x27, 45, 84, 0x33, u"Semicolon", u";", 0x80},         // 73
    {0xDE, 0x28, 34, 92, 0x34, u"Quote", u"\"", 0x80},            // 74
    {0x0D, 0x1C, 35, 100, 0x28, u"Return", u"Enter", 0x81},       // 75
    {0x64, 0x4B, 10, 65, 0x5C, u"Keypad4", u"4", 0x02},           // 76
    {0x65, 0x4C, 9, 73, 0x5D, u"Keypad5", u"5", 0x02},            // 77
    {0x66, 0x4D, 8, 81, 0x5E, u"Keypad6", u"6", 0x02},            // 78
    {0x6B, 0x4E, 14, 57, 0x57, u"KeypadPlus", u"+", 0x02},        // 79
    {0x00, 0x00, 94, 31, 0x00, u"L7", u"L7", 0x60},               // 80
    {0x00, 0x00, 91, 71, 0x00, u"L8", u"L8", 0x60},               // 81
    {0xA0, 0x2A, 82, 3, 0x73, u"ShiftLeft", u"Shift", 0x51},      // 82
    {0x5A, 0x2C, 77, 11, 0x1D, u"Z", u"Z", 0x40},                 // 83
    {0x58, 0x2D, 66, 19, 0x1B, u"X", u"X", 0x40},                 // 84
    {0x43, 0x2E, 65, 27, 0x06, u"C", u"C", 0x40},                 // 85
    {0x56, 0x2F, 63, 35, 0x19, u"V", u"V", 0x40},                 // 86
    {0x42, 0x30, 64, 43, 0x05, u"B", u"B", 0x40},                 // 87
    {0x4E, 0x31, 50, 51, 0x11, u"N", u"N", 0x80},                 // 88
    {0x4D, 0x32, 49, 59, 0x10, u"M", u"M", 0x80},                 // 89
    {0xBC, 0x33, 48, 67, 0x36, u"Comma", u",", 0x80},             // 90
    {0xBE, 0x34, 47, 75, 0x37, u"Dot", u".", 0x80},               // 91
    {0xBF, 0x35, 33, 83, 0x38, u"Slash", u"/", 0x80},             // 92
    {0xA1, 0x36, 30, 91, 0x77, u"ShiftRight", u"Shift", 0x91},    // 93
    {0x26, 0x48, 27, 74, 0x52, u"UpArrow", u"Up", 0x01},          // 94
    {0x61, 0x4F, 6, 97, 0x59, u"Keypad1", u"1", 0x02},            // 95
    {0x62, 0x50, 5, 105, 0x5A, u"Keypad2", u"2", 0x02},           // 96
    {0x63, 0x51, 4, 113, 0x5B, u"Keypad3", u"3", 0x02},           // 97
    {0x00, 0x00, 93, 39, 0x00, u"L9", u"L9", 0x60},               // 98
    {0x00, 0x00, 92, 79, 0x00, u"L10", u"L10", 0x60},             // 99
    {0xA2, 0x1D, 81, 87, 0x72, u"CtrlLeft", u"Ctrl", 0x51},       // 100
    {0x5B, 0x5B, 80, 95, 0x75, u"CmdLeft", u"Win", 0x51},         // 101
    {0xA4, 0x38, 79, 103, 0x74, u"AltLeft", u"Alt", 0x51},        // 102
    {0x20, 0x39, 78, 111, 0x2C, u"Spacebar", u"Space", 0xC0},     // 103
    {0xA5, 0x38, 32, 119, 0x78, u"AltRight", u"AltGr", 0x91},     // 104
    {0x5D, 0x5D, 31, 127, 0x65, u"CmdRight", u"Apps", 0x81},      // 105
    {0xA3, 0x1D, 29, 135, 0x76, u"CtrlRight", u"Ctrl", 0x91},     // 106
    {0x25, 0x4B, 28, 82, 0x50, u"LeftArrow", u"Left", 0x01},      // 107
    {0x28, 0x50, 26, 90, 0x51, u"DownArrow", u"Down", 0x01},      // 108
    {0x27, 0x4D, 25, 98, 0x4F, u"RightArrow", u"Right", 0x01},    // 109
    {0x60, 0x52, 1, 121, 0x62, u"Keypad0", u"0", 0x02},           // 110
    {0x6E, 0x53, 2, 129, 0x63, u"KeypadDot", u".", 0x02},         // 111
    {0x0D, 0x1C, 3, 137, 0x58, u"KeypadEnter", u"Enter", 0x03},   // 112
}};

// Same order as kKeys. Columns: image x, y; column, band; width, height; second x, y; grid code.
constexpr std::array<QXKeyGeometry, QXKeyTable::kKeyCount> kGeometry{{
    {46, 41, 2, 2, 4, 2, 37, 11, 0x0000},         // 0 Escape
    {140, 41, 7, 2, 2, 2, 136, 11, 0x0002},       // 1 F1
    {190, 41, 9, 2, 2, 2, 188, 11, 0x0003},       // 2 F2
    {266, 41, 12, 2, 2, 2, 266, 11, 0x0004},      // 3 F3
    {316, 41, 14, 2, 2, 2, 318, 11, 0x0005},      // 4 F4
    {392, 41, 17, 2, 2, 2, 396, 11, 0x0006},      // 5 F5
    {442, 41, 19, 2, 2, 2, 448, 11, 0x0007},      // 6 F6
    {518, 41, 22, 2, 2, 2, 526, 11, 0x0008},      // 7 F7
    {568, 41, 24, 2, 2, 2, 578, 11, 0x0009},      // 8 F8
    {644, 41, 27, 2, 2, 2, 656, 11, 0x000A},      // 9 F9
    {694, 41, 29, 2, 2, 2, 708, 11, 0x000B},      // 10 F10
    {770, 41, 32, 2, 2, 2, 786, 11, 0x000C},      // 11 F11
    {820, 41, 34, 2, 2, 2, 838, 11, 0x000D},      // 12 F12
    {902, 41, 37, 2, 2, 2, 916, 11, 0x0010},      // 13 PrintScreen
    {952, 41, 39, 2, 2, 2, 968, 11, 0x0011},      // 14 ScrollLock
    {1002, 41, 41, 2, 2, 2, 1020, 11, 0x0012},    // 15 Pause
    {22, 112, 2, 5, 2, 2, 11, 81, 0x0100},        // 16 L1
    {72, 112, 4, 5, 2, 2, 63, 81, 0x0101},        // 17 L2
    {140, 113, 7, 5, 2, 2, 136, 81, 0x0102},      // 18 GraveAccent
    {190, 113, 9, 5, 2, 2, 188, 81, 0x0103},      // 19 1
    {240, 113, 11, 5, 2, 2, 240, 81, 0x0104},     // 20 2
    {290, 113, 13, 5, 2, 2, 292, 81, 0x0105},     // 21 3
    {340, 113, 15, 5, 2, 2, 344, 81, 0x0106},     // 22 4
    {390, 113, 17, 5, 2, 2, 396, 81, 0x0107},     // 23 5
    {440, 113, 19, 5, 2, 2, 448, 81, 0x0108},     // 24 6
    {490, 113, 21, 5, 2, 2, 500, 81, 0x0109},     // 25 7
    {540, 113, 23, 5, 2, 2, 552, 81, 0x010A},     // 26 8
    {590, 113, 25, 5, 2, 2, 604, 81, 0x010B},     // 27 9
    {640, 113, 27, 5, 2, 2, 656, 81, 0x010C},     // 28 0
    {690, 113, 29, 5, 2, 2, 708, 81, 0x010D},     // 29 Minus
    {740, 113, 31, 5, 2, 2, 760, 81, 0x010E},     // 30 Plus
    {804, 113, 33, 5, 3, 2, 825, 81, 0x010F},     // 31 Backspace
    {902, 113, 37, 5, 2, 2, 916, 81, 0x0110},     // 32 Insert
    {952, 113, 39, 5, 2, 2, 968, 81, 0x0111},     // 33 Home
    {1002, 113, 41, 5, 2, 2, 1020, 81, 0x0112},   // 34 PageUp
    {1083, 113, 44, 5, 2, 2, 1099, 81, 0x0113},   // 35 NumLock
    {1133, 113, 46, 5, 2, 2, 1151, 81, 0x0114},   // 36 KeypadDivide
    {1183, 113, 48, 5, 2, 2, 1203, 81, 0x0115},   // 37 KeypadMultiply
    {1233, 113, 50, 5, 2, 2, 1255, 81, 0x0116},   // 38 KeypadMinus
    {22, 162, 2, 7, 2, 2, 11, 133, 0x0200},       // 39 L3
    {72, 162, 4, 7, 2, 2, 63, 133, 0x0201},       // 40 L4
    {155, 163, 7, 7, 3, 2, 149, 133, 0x0202},     // 41 Tab
    {220, 163, 10, 7, 2, 2, 214, 133, 0x0203},    // 42 Q
    {270, 163, 12, 7, 2, 2, 266, 133, 0x0204},    // 43 W
    {320, 163, 14, 7, 2, 2, 318, 133, 0x0205},    // 44 E
    {370, 163, 16, 7, 2, 2, 370, 133, 0x0206},    // 45 R
    {420, 163, 18, 7, 2, 2, 422, 133, 0x0207},    // 46 T
    {470, 163, 20, 7, 2, 2, 474, 133, 0x0208},    // 47 Y
    {520, 163, 22, 7, 2, 2, 526, 133, 0x0209},    // 48 U
    {570, 163, 24, 7, 2, 2, 578, 133, 0x020A},    // 49 I
    {620, 163, 26, 7, 2, 2, 630, 133, 0x020B},    // 50 O
    {670, 163, 28, 7, 2, 2, 682, 133, 0x020C},    // 51 P
    {720, 163, 30, 7, 2, 2, 734, 133, 0x020D},    // 52 BraceSquareLeft
    {770, 163, 32, 7, 2, 2, 786, 133, 0x020E},    // 53 BraceSquareRight
    {820, 163, 34, 7, 2, 2, 838, 133, 0x020F},    // 54 StraightSlash
    {902, 163, 37, 7, 2, 2, 916, 133, 0x0210},    // 55 Delete
    {952, 163, 39, 7, 2, 2, 968, 133, 0x0211},    // 56 End
    {1002, 163, 41, 7, 2, 2, 1020, 133, 0x0212},  // 57 PageDown
    {1083, 163, 44, 7, 2, 2, 1099, 133, 0x0213},  // 58 Keypad7
    {1133, 163, 46, 7, 2, 2, 1151, 133, 0x0214},  // 59 Keypad8
    {1183, 163, 48, 7, 2, 2, 1203, 133, 0x0215},  // 60 Keypad9
    {22, 212, 2, 9, 2, 2, 11, 185, 0x0300},       // 61 L5
    {72, 212, 4, 9, 2, 2, 63, 185, 0x0301},       // 62 L6
    {172, 213, 8, 9, 3, 2, 163, 185, 0x0302},     // 63 CapsLock
    {237, 213, 11, 9, 2, 2, 228, 185, 0x0303},    // 64 A
    {287, 213, 13, 9, 2, 2, 280, 185, 0x0304},    // 65 S
    {337, 213, 15, 9, 2, 2, 332, 185, 0x0305},    // 66 D
    {387, 213, 17, 9, 2, 2, 384, 185, 0x0306},    // 67 F
    {437, 213, 19, 9, 2, 2, 436, 185, 0x0307},    // 68 G
    {487, 213, 21, 9, 2, 2, 488, 185, 0x0308},    // 69 H
    {537, 213, 23, 9, 2, 2, 540, 185, 0x0309},    // 70 J
    {587, 213, 25, 9, 2, 2, 592, 185, 0x030A},    // 71 K
    {637, 213, 27, 9, 2, 2, 644, 185, 0x030B},    // 72 L
    {687, 213, 29, 9, 2, 2, 696, 185, 0x030C},    // 73 Semicolon
    {737, 213, 31, 9, 2, 2, 748, 185, 0x030D},    // 74 Quote
    {808, 213, 33, 9, 3, 2, 826, 185, 0x030E},    // 75 Return
    {1083, 213, 44, 9, 2, 2, 1099, 185, 0x0313},  // 76 Keypad4
    {1133, 213, 46, 9, 2, 2, 1151, 185, 0x0314},  // 77 Keypad5
    {1183, 213, 48, 9, 2, 2, 1203, 185, 0x0315},  // 78 Keypad6
    {1233, 188, 50, 7, 2, 4, 1255, 159, 0x0316},  // 79 KeypadPlus
    {22, 262, 2, 11, 2, 2, 11, 237, 0x0400},      // 80 L7
    {72, 262, 4, 11, 2, 2, 63, 237, 0x0401},      // 81 L8
    {180, 263, 8, 11, 4, 2, 176, 237, 0x0402},    // 82 ShiftLeft
    {255, 263, 12, 11, 2, 2, 254, 237, 0x0403},   // 83 Z
    {305, 263, 14, 11, 2, 2, 306, 237, 0x0404},   // 84 X
    {355, 263, 16, 11, 2, 2, 358, 237, 0x0405},   // 85 C
    {405, 263, 18, 11, 2, 2, 410, 237, 0x0406},   // 86 V
    {455, 263, 20, 11, 2, 2, 462, 237, 0x0407},   // 87 B
    {505, 263, 22, 11, 2, 2, 514, 237, 0x0408},   // 88 N
    {555, 263, 24, 11, 2, 2, 566, 237, 0x0409},   // 89 M
    {605, 263, 26, 11, 2, 2, 618, 237, 0x040A},   // 90 Comma
    {655, 263, 28, 11, 2, 2, 670, 237, 0x040B},   // 91 Dot
    {705, 263, 30, 11, 2, 2, 722, 237, 0x040C},   // 92 Slash
    {779, 263, 32, 11, 4, 2, 800, 237, 0x040D},   // 93 ShiftRight
    {952, 263, 39, 11, 2, 2, 968, 237, 0x0411},   // 94 UpArrow
    {1083, 263, 44, 11, 2, 2, 1099, 237, 0x0413}, // 95 Keypad1
    {1133, 263, 46, 11, 2, 2, 1151, 237, 0x0414}, // 96 Keypad2
    {1183, 263, 48, 11, 2, 2, 1203, 237, 0x0415}, // 97 Keypad3
    {22, 313, 2, 13, 2, 2, 11, 289, 0x0500},      // 98 L9
    {72, 313, 4, 13, 2, 2, 63, 289, 0x0501},      // 99 L10
    {154, 313, 7, 13, 3, 2, 149, 289, 0x0502},    // 100 CtrlLeft
    {218, 313, 10, 13, 2, 2, 214, 289, 0x0503},   // 101 CmdLeft
    {278, 313, 12, 13, 3, 2, 279, 289, 0x0504},   // 102 AltLeft
    {481, 317, 15, 13, 12, 2, 485, 294, 0x0508},  // 103 Spacebar
    {683, 313, 27, 13, 3, 2, 691, 289, 0x050B},   // 104 AltRight
    {743, 313, 30, 13, 2, 2, 756, 289, 0x050C},   // 105 CmdRight
    {807, 313, 32, 13, 3, 2, 821, 289, 0x050D},   // 106 CtrlRight
    {902, 313, 37, 13, 2, 2, 916, 289, 0x0510},   // 107 LeftArrow
    {952, 313, 39, 13, 2, 2, 968, 289, 0x0511},   // 108 DownArrow
    {1002, 313, 41, 13, 2, 2, 1020, 289, 0x0512}, // 109 RightArrow
    {1108, 313, 44, 13, 4, 2, 1125, 289, 0x0513}, // 110 Keypad0
    {1183, 313, 48, 13, 2, 2, 1203, 289, 0x0515}, // 111 KeypadDot
    {1233, 288, 50, 11, 2, 4, 1255, 263, 0x0516}, // 112 KeypadEnter
}};

constexpr uint8_t kFirstNamedCode = 0x04;

// The names of codes 0x04 to 0xA7. Codes up to 0x65 are the USB HID keyboard usages, the rest
// the keyboard's own. The editor shows these names to users; keep the spelling, oddities
// ("calender", "interrogation") included.
constexpr std::u16string_view kActionNames[] = {
    u"a",                 // 0x04
    u"b",                 // 0x05
    u"c",                 // 0x06
    u"d",                 // 0x07
    u"e",                 // 0x08
    u"f",                 // 0x09
    u"g",                 // 0x0A
    u"h",                 // 0x0B
    u"i",                 // 0x0C
    u"j",                 // 0x0D
    u"k",                 // 0x0E
    u"l",                 // 0x0F
    u"m",                 // 0x10
    u"n",                 // 0x11
    u"o",                 // 0x12
    u"p",                 // 0x13
    u"q",                 // 0x14
    u"r",                 // 0x15
    u"s",                 // 0x16
    u"t",                 // 0x17
    u"u",                 // 0x18
    u"v",                 // 0x19
    u"w",                 // 0x1A
    u"x",                 // 0x1B
    u"y",                 // 0x1C
    u"z",                 // 0x1D
    u"1",                 // 0x1E
    u"2",                 // 0x1F
    u"3",                 // 0x20
    u"4",                 // 0x21
    u"5",                 // 0x22
    u"6",                 // 0x23
    u"7",                 // 0x24
    u"8",                 // 0x25
    u"9",                 // 0x26
    u"0",                 // 0x27
    u"enter",             // 0x28
    u"esc",               // 0x29
    u"bs",                // 0x2A
    u"tab",               // 0x2B
    u"space",             // 0x2C
    u"neg",               // 0x2D
    u"equation",          // 0x2E
    u"L_brackets",        // 0x2F
    u"R_brackets",        // 0x30
    u"code29 (/)",        // 0x31
    u"code42",            // 0x32
    u"semicolon",         // 0x33
    u"apostrophe",        // 0x34
    u"tilde (~)",         // 0x35
    u"comma",             // 0x36
    u"dot",               // 0x37
    u"interrogation",     // 0x38
    u"cap",               // 0x39
    u"f1",                // 0x3A
    u"f2",                // 0x3B
    u"f3",                // 0x3C
    u"F4",                // 0x3D
    u"f5",                // 0x3E
    u"F6",                // 0x3F
    u"f7",                // 0x40
    u"f8",                // 0x41
    u"f9",                // 0x42
    u"f10",               // 0x43
    u"f11",               // 0x44
    u"f12",               // 0x45
    u"print",             // 0x46
    u"scroll",            // 0x47
    u"pause",             // 0x48
    u"insert",            // 0x49
    u"home",              // 0x4A
    u"pgup",              // 0x4B
    u"del",               // 0x4C
    u"end",               // 0x4D
    u"pgdn",              // 0x4E
    u"R_arrow",           // 0x4F
    u"L_arrow",           // 0x50
    u"dn_arrow",          // 0x51
    u"Up_arrow",          // 0x52
    u"num_lock",          // 0x53
    u"num_div",           // 0x54
    u"num_star",          // 0x55
    u"num_neg",           // 0x56
    u"num_plus",          // 0x57
    u"num_enter",         // 0x58
    u"num_1",             // 0x59
    u"num_2",             // 0x5A
    u"num_3",             // 0x5B
    u"num_4",             // 0x5C
    u"num_5",             // 0x5D
    u"num_6",             // 0x5E
    u"num_7",             // 0x5F
    u"num_8",             // 0x60
    u"num_9",             // 0x61
    u"num_0",             // 0x62
    u"num_dot",           // 0x63
    u"\\",                // 0x64
    u"app",               // 0x65
    u"padequ",            // 0x66
    u"f13",               // 0x67
    u"f14",               // 0x68
    u"f15",               // 0x69
    u"code107",           // 0x6A
    u"code56",            // 0x6B
    u"code133",           // 0x6C
    u"code14",            // 0x6D
    u"code132",           // 0x6E
    u"code131",           // 0x6F
    u"Hangul",            // 0x70
    u"Hanja",             // 0x71
    u"L_ctrl",            // 0x72
    u"l_shift",           // 0x73
    u"l_alt",             // 0x74
    u"L_win",             // 0x75
    u"r_ctrl",            // 0x76
    u"r_shift",           // 0x77
    u"r_alt",             // 0x78
    u"r_win",             // 0x79
    u"help",              // 0x7A
    u"Media mute",        // 0x7B
    u"Media vol down",    // 0x7C
    u"Media vol up",      // 0x7D
    u"word",              // 0x7E
    u"excel",             // 0x7F
    u"mail",              // 0x80
    u"calender",          // 0x81
    u"calculator",        // 0x82
    u"log_off",           // 0x83
    u"app_l",             // 0x84
    u"app_r",             // 0x85
    u"task_pane",         // 0x86
    u"spell",             // 0x87
    u"files",             // 0x88
    u"new",               // 0x89
    u"open",              // 0x8A
    u"close",             // 0x8B
    u"save",              // 0x8C
    u"f12_print",         // 0x8D
    u"undo",              // 0x8E
    u"copy",              // 0x8F
    u"cut",               // 0x90
    u"paste",             // 0x91
    u"office_home",       // 0x92
    u"Browser home",      // 0x93
    u"Browser back",      // 0x94
    u"Browser forward",   // 0x95
    u"redo",              // 0x96
    u"reply",             // 0x97
    u"forward",           // 0x98
    u"send",              // 0x99
    u"Media next track",  // 0x9A
    u"Media prev track",  // 0x9B
    u"Media stop",        // 0x9C
    u"Media play",        // 0x9D
    u"media sel",         // 0x9E
    u"my_computer",       // 0x9F
    u"Browser search",    // 0xA0
    u"Browser stop",      // 0xA1
    u"Browser reload",    // 0xA2
    u"Browser favorites", // 0xA3
    u"System power",      // 0xA4
    u"System sleep",      // 0xA5
    u"System wake up",    // 0xA6
    u"fn",                // 0xA7
};

constexpr size_t kActionNameCount = std::size(kActionNames);
static_assert(kActionNameCount == 0xA7 - kFirstNamedCode + 1);

// An action code's icon is the resource "ACTION_" + its name upper-cased with blanks as
// underscores; the resource lookup ignores case, so only the blanks need changing.
std::string verbResourceName(std::u16string_view name) {
    std::string resource = "ACTION_" + toUtf8(name);
    std::replace(resource.begin(), resource.end(), ' ', '_');
    return resource;
}

const QXResourceData* verbResource(uint8_t code) {
    std::u16string_view name = QXKeyTable::actionCodeName(code);
    if (name.empty())
        return nullptr;
    return findResource(qxModelResources(), verbResourceName(name));
}

std::vector<QXActionVerb> collectVerbs() {
    std::vector<QXActionVerb> verbs;
    for (size_t i = 0; i < kActionNameCount; ++i) {
        auto code = static_cast<uint8_t>(kFirstNamedCode + i);
        if (verbResource(code))
            verbs.push_back({code, kActionNames[i]});
    }
    // u16string_view compares char16_t code units one by one, which is the order the
    // editor lists the verbs in.
    std::sort(verbs.begin(), verbs.end(),
              [](const QXActionVerb& a, const QXActionVerb& b) { return a.name < b.name; });
    return verbs;
}

} // namespace

std::span<const QXKeyRecord> QXKeyTable::keys() {
    return kKeys;
}

const QXKeyRecord& QXKeyTable::key(size_t index) {
    assert(index < kKeyCount);
    return kKeys[index];
}

const QXKeyGeometry& QXKeyTable::geometry(size_t index) {
    assert(index < kKeyCount);
    return kGeometry[index];
}

std::optional<size_t> QXKeyTable::findKeyByName(std::u16string_view name) {
    for (size_t i = 0; i < kKeyCount; ++i)
        if (kKeys[i].name == name)
            return i;
    return std::nullopt;
}

std::optional<size_t> QXKeyTable::findKeyByActionCode(uint8_t code) {
    for (size_t i = 0; i < kKeyCount; ++i)
        if (kKeys[i].actionCode == code)
            return i;
    return std::nullopt;
}

std::u16string_view QXKeyTable::actionCodeName(uint8_t code) {
    if (code < kFirstNamedCode)
        return {};
    size_t offset = static_cast<size_t>(code) - kFirstNamedCode;
    if (offset >= kActionNameCount)
        return {};
    return kActionNames[offset];
}

std::u16string QXKeyTable::actionDisplayName(uint8_t code) {
    std::optional<size_t> index = findKeyByActionCode(code);
    if (!index)
        return std::u16string(actionCodeName(code));
    const QXKeyRecord& k = kKeys[*index];
    // The Alt keys already read differently ("Alt", "AltGr"); the other modifier pairs share
    // a label and need the side to tell them apart.
    bool isAlt = k.virtualKey == 0xA4 || k.virtualKey == 0xA5;
    if (!k.has(QXKeyRecord::kModifier) || isAlt)
        return std::u16string(k.label);
    std::u16string side = k.has(QXKeyRecord::kLeftHalf) ? u"Left " : u"Right ";
    return side + std::u16string(k.label);
}

QXKeyFrame QXKeyTable::keyFrame(size_t index) {
    const QXKeyGeometry& g = geometry(index);
    // The 48-pixel image is centred on the key: a key of w half-keys is 24 * w pixels wide.
    int left = g.x + (96 - 48 * g.width) / 4;
    int top = g.y + (96 - 48 * g.height) / 4;
    return {left, top, left + 24 * g.width, top + 24 * g.height};
}

int QXKeyTable::keyRow(size_t index) {
    return geometry(index).gridCode >> 8;
}

int QXKeyTable::keyPlace(size_t index) {
    return geometry(index).gridCode & 0xFF;
}

std::span<const QXActionVerb> QXKeyTable::multimediaVerbs() {
    static const std::vector<QXActionVerb> verbs = collectVerbs();
    return verbs;
}

std::span<const unsigned char> QXKeyTable::verbIcon(uint8_t code) {
    const QXResourceData* resource = verbResource(code);
    if (!resource)
        return {};
    return {resource->data, resource->size};
}

std::vector<std::u16string> QXKeyTable::names() {
    std::vector<std::u16string> names;
    names.reserve(keyCount());
    for (const QXKeyRecord& key : keys())
        names.emplace_back(key.name);
    return names;
}
