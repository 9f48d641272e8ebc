#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>
#include <string_view>

// One physical key of the keyboard. The table of these is compiled in and never changes;
// the position of a record in it is the key index (0 to 112) used throughout the program.
struct QXKeyRecord {
    // Flag bits; no other bits occur.
    static constexpr uint32_t kNoCharacter = 0x01; // produces no character (Esc, F-keys, arrows...)
    static constexpr uint32_t kKeypad = 0x02;      // numeric keypad, NumLock and keypad Enter
    static constexpr uint32_t kLock = 0x04;        // ScrollLock, NumLock, CapsLock
    static constexpr uint32_t kFunction = 0x08;    // F1 to F12
    static constexpr uint32_t kModifier = 0x10;    // both Shifts, both Ctrls, left Win, both Alts
    static constexpr uint32_t kExtra = 0x20;       // the extra keys L1 to L10
    static constexpr uint32_t kLeftHalf = 0x40;    // left half of the keyboard (and the space bar)
    static constexpr uint32_t kRightHalf = 0x80;   // right half of the keyboard (and the space bar)

    uint32_t virtualKey;   // Windows virtual-key code; 0 for L1 to L10
    uint8_t scanCode;      // PC set-1 scan code without the 0xE0 prefix; 0 for L1 to L10
    uint8_t displayNumber; // 1 to 114, unique, 7 unused: names the key's image file on the device
    uint8_t codeSlot;      // 1 to 137, unique: 1-based entry in the device's key code table
    uint8_t actionCode;    // code the key sends by default; 0 (sends nothing) for L1 to L10
    std::u16string_view name;  // stable name; property lists identify keys by it
    std::u16string_view label; // short caption for the editor
    uint32_t flags;            // k* bits above

    bool has(uint32_t flag) const { return (flags & flag) != 0; }
};

// Where a key sits on the editor's keyboard picture, in pixels of that picture.
struct QXKeyGeometry {
    int16_t x; // top-left corner of the key's 48 by 48 image
    int16_t y;
    uint8_t column; // column and band of the key, in half-key units
    uint8_t band;
    uint8_t width; // size in half-key units; an ordinary key is 2 by 2
    uint8_t height;
    int16_t secondX; // second position pair, reported to view plug-ins as the key's position
    int16_t secondY;
    uint16_t gridCode; // high byte: row, 0 (function keys) to 5 (bottom row); low byte: place in it
};

// The outline of a key on the keyboard picture. Right and bottom are exclusive, like the
// image square (x, y)-(x + 48, y + 48), which an ordinary 2 by 2 key's frame equals.
struct QXKeyFrame {
    int left;
    int top;
    int right;
    int bottom;

    bool operator==(const QXKeyFrame&) const = default;
};

// A multimedia verb: an action code that has an icon for the editor's verb list.
struct QXActionVerb {
    uint8_t code;
    std::u16string_view name; // the action code's name, e.g. u"Media play"
};

// The fixed key table, its geometry and the names of the 8-bit action codes. Everything
// here is constant data: safe to call from any thread, and every returned view or span
// refers to static storage that lives as long as the program.
class QXKeyTable {
public:
    QXKeyTable() = delete;

    static constexpr size_t kKeyCount = 113;
    static constexpr size_t keyCount() { return kKeyCount; }

    // All records in key-index order.
    static std::span<const QXKeyRecord> keys();
    // The keys' names in key-index order: what a profile's button entries are named by.
    static std::vector<std::u16string> names();
    // The record of a key; index must be below keyCount().
    static const QXKeyRecord& key(size_t index);
    static const QXKeyGeometry& geometry(size_t index);

    // The key index of the key with exactly this name (case matters); nullopt for none.
    static std::optional<size_t> findKeyByName(std::u16string_view name);
    // The index of the first key whose default action code is code; nullopt when no key
    // carries it. Code 0 finds L1, the first of the keys that send nothing.
    static std::optional<size_t> findKeyByActionCode(uint8_t code);

    // The name of an action code (0x04 to 0xA7 have one, e.g. 0x04 u"a", 0xA7 u"fn"); empty
    // for every other code, including 0 (sends nothing).
    static std::u16string_view actionCodeName(uint8_t code);
    // How the editor shows an action code: the label of the first key carrying it, with
    // "Left " or "Right " before it for the Shift, Ctrl and Win modifiers (u"Left Shift"; the
    // Alt keys keep their own labels "Alt" and "AltGr"); the code's name when no key carries
    // it; empty when it has neither.
    static std::u16string actionDisplayName(uint8_t code);

    // The key's frame on the keyboard picture, derived from its image position and size.
    static QXKeyFrame keyFrame(size_t index);
    // The key's keyboard row (0 function-key row to 5 bottom row) and place within the row.
    static int keyRow(size_t index);
    static int keyPlace(size_t index);

    // The multimedia verbs: the named action codes that have an icon compiled in, sorted by
    // name (UTF-16 code units compared one by one).
    static std::span<const QXActionVerb> multimediaVerbs();
    // The 48 by 48 PNG icon of a multimedia verb; empty when the code has none.
    static std::span<const unsigned char> verbIcon(uint8_t code);
};
