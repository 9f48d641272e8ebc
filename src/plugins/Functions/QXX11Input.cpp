#include "QXX11Input.h"

// Qt before Xlib, whose macros (Bool, Status) Qt's headers refuse.
#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include "QXHotkeyText.h"
#include "platform/QXKeyCodes.h"
#include "platform/QXLog.h"
#include "platform/QXWin32.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <chrono>
#include <map>
#include <memory>
#include <thread>
#include <vector>

namespace QXX11Input {

namespace {

using namespace std::chrono_literals;

// The receiving program reads the keysym of a remapped keycode when it handles the key
// event, after the mapping change it was told of first. The burst's keys are queued at the
// server by the time XSync returns, but the receiver may not have read them yet: the spare
// keycodes keep their keysyms this long before they are emptied again.
constexpr auto kRemapSettle = 50ms;
constexpr auto kRemapHold = 1000ms;
constexpr auto kHotkeyPause = 10ms;

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

DisplayPtr openDisplay(const char* what) {
    DisplayPtr display(XOpenDisplay(nullptr));
    if (!display) {
        QXLog::warning(QXLog::kPlugins, std::string(what) + ": no X display to send keys to");
        return nullptr;
    }
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display.get(), &event, &error, &major, &minor)) {
        QXLog::warning(QXLog::kPlugins,
                       std::string(what) + ": the X server has no XTest extension");
        return nullptr;
    }
    major = XkbMajorVersion;
    minor = XkbMinorVersion;
    int opcode = 0;
    if (!XkbQueryExtension(display.get(), &opcode, &event, &error, &major, &minor)) {
        QXLog::warning(QXLog::kPlugins, std::string(what) + ": the X server has no XKB extension");
        return nullptr;
    }
    return display;
}

KeySym keysymOf(char32_t c) {
    switch (c) {
    case U'\n':
    case U'\r':
        return XK_Return;
    case U'\t':
        return XK_Tab;
    case U'\b':
        return XK_BackSpace;
    case 0x1B:
        return XK_Escape;
    default:
        break;
    }
    if ((c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xFF))
        return c; // Latin-1 keysyms are the code points themselves
    if (c < 0x20 || (c >= 0x7F && c < 0xA0))
        return NoSymbol;
    return 0x01000000 | c;
}

std::vector<char32_t> codePoints(std::u16string_view text) {
    std::vector<char32_t> points;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t unit = text[i];
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            points.push_back(0x10000 + ((char32_t(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (unit < 0xD800 || unit >= 0xE000) {
            points.push_back(unit);
        }
    }
    return points;
}

struct Stroke {
    KeyCode keycode;
    bool shift;
};

// The core keyboard mapping at the start of a burst: which keys exist in the current group,
// and which keycodes carry no symbol at all.
class KeyboardMap {
public:
    explicit KeyboardMap(Display* display) : m_display(display) {
        XDisplayKeycodes(display, &m_min, &m_max);
        KeySym* syms = XGetKeyboardMapping(display, static_cast<KeyCode>(m_min), m_max - m_min + 1,
                                           &m_perCode);
        if (syms) {
            m_syms.assign(syms, syms + (m_max - m_min + 1) * m_perCode);
            XFree(syms);
        }
        XkbStateRec state{};
        XkbGetState(display, XkbUseCoreKbd, &state);
        m_group = state.group;
        m_capsLock = state.locked_mods & LockMask;
        m_shift = XKeysymToKeycode(display, XK_Shift_L);
        // Borrowed from the top down: the lowest keycodes are the ones programs special-case.
        for (int code = m_max; code >= m_min; --code)
            if (isEmpty(code))
                m_spare.push_back(static_cast<KeyCode>(code));
    }

    bool existing(KeySym sym, Stroke& stroke) const {
        for (int code = m_min; code <= m_max; ++code)
            for (int level = 0; level < 2; ++level)
                if (XkbKeycodeToKeysym(m_display, static_cast<KeyCode>(code), m_group, level) ==
                    sym) {
                    if (level == 1 && !m_shift)
                        continue;
                    stroke = {static_cast<KeyCode>(code), (level == 1) != flipsCase(sym)};
                    return true;
                }
        return false;
    }

    const std::vector<KeyCode>& spare() const { return m_spare; }
    KeyCode shiftKey() const { return m_shift; }

    void setSymbol(KeyCode code, KeySym sym) const {
        KeySym row[2] = {sym, sym};
        XChangeKeyboardMapping(m_display, code, 2, row, 1);
    }
    void restore(KeyCode code) const {
        std::vector<KeySym> row(m_syms.begin() + (code - m_min) * m_perCode,
                                m_syms.begin() + (code - m_min + 1) * m_perCode);
        XChangeKeyboardMapping(m_display, code, m_perCode, row.data(), 1);
    }

private:
    // With Caps Lock on, Shift gives a letter's small form.
    bool flipsCase(KeySym sym) const {
        if (!m_capsLock)
            return false;
        KeySym lower = NoSymbol, upper = NoSymbol;
        XConvertCase(sym, &lower, &upper);
        return lower != upper;
    }

    bool isEmpty(int code) const {
        if (m_syms.empty())
            return false;
        for (int i = 0; i < m_perCode; ++i)
            if (m_syms[(code - m_min) * m_perCode + i] != NoSymbol)
                return false;
        return true;
    }

    Display* m_display;
    int m_min = 8, m_max = 255, m_perCode = 0;
    std::vector<KeySym> m_syms;
    std::vector<KeyCode> m_spare;
    unsigned int m_group = 0;
    bool m_capsLock = false;
    KeyCode m_shift = 0;
};

// Keycodes lent to characters by the last bursts, emptied again once typing has been quiet
// for kRemapHold: a program busy elsewhere still reads the right character when it gets to
// the key event, and the program's thread is never held up waiting for it. Emptied at once
// when the library goes.
class LentKeycodes : public QObject {
public:
    LentKeycodes() {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { emptyNow(); });
    }
    ~LentKeycodes() override { emptyNow(); }

    void lend(const std::map<KeyCode, KeySym>& remapped) {
        for (auto [code, sym] : remapped)
            m_codes.push_back(code);
        m_timer.start(kRemapHold);
    }

    void emptyNow() {
        if (m_codes.empty())
            return;
        if (DisplayPtr display = openDisplay("Typing a text")) {
            KeySym none[2] = {NoSymbol, NoSymbol};
            for (KeyCode code : m_codes)
                XChangeKeyboardMapping(display.get(), code, 2, none, 1);
            XSync(display.get(), False);
        }
        m_codes.clear();
    }

private:
    QTimer m_timer;
    std::vector<KeyCode> m_codes;
};

// Only a program with an event loop on this thread can empty the keycodes later.
LentKeycodes* lentKeycodes() {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application || QThread::currentThread() != application->thread())
        return nullptr;
    static LentKeycodes codes;
    return &codes;
}

// Sends the strokes; the remapped keycodes get their symbols first and lose them after:
// at once when more of the same text needs them (after kRemapSettle), else once typing has
// been quiet for a while.
void sendBurst(Display* display, const KeyboardMap& map, const std::vector<Stroke>& strokes,
               const std::map<KeyCode, KeySym>& remapped, bool last) {
    for (auto [code, sym] : remapped)
        map.setSymbol(code, sym);
    XSync(display, False);
    for (const Stroke& stroke : strokes) {
        if (stroke.shift)
            XTestFakeKeyEvent(display, map.shiftKey(), True, CurrentTime);
        XTestFakeKeyEvent(display, stroke.keycode, True, CurrentTime);
        XTestFakeKeyEvent(display, stroke.keycode, False, CurrentTime);
        if (stroke.shift)
            XTestFakeKeyEvent(display, map.shiftKey(), False, CurrentTime);
    }
    XSync(display, False);
    if (remapped.empty())
        return;
    if (LentKeycodes* lent = last ? lentKeycodes() : nullptr) {
        lent->lend(remapped);
        return;
    }
    std::this_thread::sleep_for(kRemapSettle);
    for (auto [code, sym] : remapped)
        map.restore(code);
    XSync(display, False);
}

// The modifier keys, both sides, by hot-key bit.
struct ModifierKeys {
    uint32_t bit;
    uint32_t left, right; // virtual keys
};
constexpr ModifierKeys kAltKeys{QXHotkeyText::kAlt, qxwin::VK_LMENU, qxwin::VK_RMENU};
constexpr ModifierKeys kCtrlKeys{QXHotkeyText::kCtrl, qxwin::VK_LCONTROL, qxwin::VK_RCONTROL};
constexpr ModifierKeys kShiftKeys{QXHotkeyText::kShift, qxwin::VK_LSHIFT, qxwin::VK_RSHIFT};
constexpr ModifierKeys kWinKeys{QXHotkeyText::kWin, qxwin::VK_LWIN, qxwin::VK_RWIN};

bool isDown(const char keys[32], uint32_t keycode) {
    return keycode > 0 && keycode < 256 && (keys[keycode / 8] & (1 << (keycode % 8)));
}

void fake(Display* display, uint32_t virtualKey, bool down) {
    if (uint32_t keycode = QXKeyCodes::xKeycodeFromVirtualKey(virtualKey))
        XTestFakeKeyEvent(display, keycode, down, CurrentTime);
}

} // namespace

bool typeText(std::u16string_view text) {
    std::vector<char32_t> points = codePoints(text);
    if (points.empty())
        return true;
    DisplayPtr display = openDisplay("Typing a text");
    if (!display)
        return false;
    KeyboardMap map(display.get());
    std::vector<Stroke> strokes;
    std::map<KeyCode, KeySym> remapped;
    std::map<KeySym, KeyCode> spareOf;
    size_t skipped = 0;
    for (char32_t point : points) {
        KeySym sym = keysymOf(point);
        Stroke stroke{};
        if (sym == NoSymbol) {
            ++skipped;
            continue;
        }
        if (map.existing(sym, stroke)) {
            strokes.push_back(stroke);
            continue;
        }
        if (map.spare().empty()) {
            ++skipped;
            continue;
        }
        auto known = spareOf.find(sym);
        if (known == spareOf.end()) {
            // Out of spare keycodes: what is queued goes first, then they are free again.
            if (remapped.size() == map.spare().size()) {
                sendBurst(display.get(), map, strokes, remapped, false);
                strokes.clear();
                remapped.clear();
                spareOf.clear();
            }
            KeyCode code = map.spare()[remapped.size()];
            remapped[code] = sym;
            known = spareOf.emplace(sym, code).first;
        }
        strokes.push_back({known->second, false});
    }
    sendBurst(display.get(), map, strokes, remapped, true);
    if (skipped)
        QXLog::warning(QXLog::kPlugins, "Typing a text: " + std::to_string(skipped) +
                                            " characters have no key and were left out");
    return true;
}

bool sendHotkey(uint32_t modifiers, uint32_t virtualKey) {
    DisplayPtr display = openDisplay("Sending a hot-key");
    if (!display)
        return false;
    Display* d = display.get();
    const ModifierKeys releaseOrder[] = {kAltKeys, kCtrlKeys, kShiftKeys, kWinKeys};
    char keys[32] = {};
    XQueryKeymap(d, keys);
    std::vector<uint32_t> held; // virtual keys, in release order
    for (const ModifierKeys& kind : releaseOrder)
        for (uint32_t vk : {kind.left, kind.right})
            if (isDown(keys, QXKeyCodes::xKeycodeFromVirtualKey(vk))) {
                held.push_back(vk);
                fake(d, vk, false);
            }
    XSync(d, False);
    // A key held on another keyboard stays down whatever XTest sends: only what really went
    // up is pressed again at the end.
    XQueryKeymap(d, keys);
    std::map<uint32_t, std::vector<uint32_t>> released; // hot-key bit -> the keys let go
    for (const ModifierKeys& kind : releaseOrder)
        for (uint32_t vk : held)
            if ((vk == kind.left || vk == kind.right) &&
                !isDown(keys, QXKeyCodes::xKeycodeFromVirtualKey(vk)))
                released[kind.bit].push_back(vk);

    for (const ModifierKeys& kind : releaseOrder)
        if (modifiers & kind.bit)
            fake(d, kind.left, true);
    fake(d, virtualKey, true);
    XSync(d, False);
    std::this_thread::sleep_for(kHotkeyPause);
    fake(d, virtualKey, false);
    for (const ModifierKeys& kind : {kWinKeys, kShiftKeys, kCtrlKeys, kAltKeys})
        if (modifiers & kind.bit)
            fake(d, kind.left, false);
    XSync(d, False);
    std::this_thread::sleep_for(kHotkeyPause);
    for (const ModifierKeys& kind : {kWinKeys, kAltKeys, kCtrlKeys, kShiftKeys})
        for (uint32_t vk : released[kind.bit])
            fake(d, vk, true);
    XSync(d, False);
    return true;
}

bool switchToNextGroup() {
    DisplayPtr display = openDisplay("Switching the layout");
    if (!display)
        return false;
    XkbDescPtr desc = XkbGetMap(display.get(), 0, XkbUseCoreKbd);
    if (!desc || XkbGetControls(display.get(), XkbGroupsWrapMask, desc) != Success ||
        !desc->ctrls) {
        if (desc)
            XkbFreeKeyboard(desc, 0, True);
        QXLog::warning(QXLog::kPlugins, "Switching the layout: the X server did not say how "
                                        "many layouts it has");
        return false;
    }
    unsigned int groups = desc->ctrls->num_groups;
    XkbFreeKeyboard(desc, 0, True);
    XkbStateRec state{};
    XkbGetState(display.get(), XkbUseCoreKbd, &state);
    if (groups > 1)
        XkbLockGroup(display.get(), XkbUseCoreKbd, (state.group + 1u) % groups);
    XSync(display.get(), False);
    return true;
}

} // namespace QXX11Input
