#include "model/QXKeyTable.h"

#include "platform/QXText.h"

#include <FreeImage.h>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

size_t indexOf(std::u16string_view name) {
    std::optional<size_t> index = QXKeyTable::findKeyByName(name);
    EXPECT_TRUE(index.has_value()) << "no key named " << toUtf8(name);
    return index.value_or(0);
}

std::string nameOf(size_t index) {
    return toUtf8(QXKeyTable::key(index).name);
}

TEST(QXKeyTable, NumbersAndNamesAreUniqueAndInRange) {
    ASSERT_EQ(QXKeyTable::keyCount(), 113u);
    ASSERT_EQ(QXKeyTable::keys().size(), 113u);

    std::set<int> displays, slots;
    std::set<std::u16string_view> names;
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i) {
        const QXKeyRecord& k = QXKeyTable::key(i);
        EXPECT_TRUE(displays.insert(k.displayNumber).second) << "display reused by " << nameOf(i);
        EXPECT_TRUE(slots.insert(k.codeSlot).second) << "code slot reused by " << nameOf(i);
        EXPECT_TRUE(names.insert(k.name).second) << "name reused: " << nameOf(i);
        EXPECT_GE(k.codeSlot, 1) << nameOf(i);
        EXPECT_LE(k.codeSlot, 137) << nameOf(i);
        EXPECT_FALSE(k.label.empty()) << nameOf(i);
    }
    // Displays are numbered 1 to 114; there is no display 7.
    std::set<int> expected;
    for (int n = 1; n <= 114; ++n)
        if (n != 7)
            expected.insert(n);
    EXPECT_EQ(displays, expected);
}

TEST(QXKeyTable, ExtraKeysSendNothingButHaveDisplaysAndSlots) {
    std::set<int> displays;
    for (int n = 1; n <= 10; ++n) {
        std::u16string name = u"L" + fromUtf8(std::to_string(n));
        const QXKeyRecord& k = QXKeyTable::key(indexOf(name));
        EXPECT_EQ(k.virtualKey, 0u) << toUtf8(name);
        EXPECT_EQ(int{k.scanCode}, 0) << toUtf8(name);
        EXPECT_EQ(int{k.actionCode}, 0) << toUtf8(name);
        EXPECT_EQ(k.flags & ~QXKeyRecord::kLeftHalf, QXKeyRecord::kExtra) << toUtf8(name);
        EXPECT_EQ(k.label, name);
        displays.insert(k.displayNumber);
    }
    EXPECT_EQ(displays.size(), 10u);
    EXPECT_EQ(*displays.begin(), 89);
    EXPECT_EQ(*displays.rbegin(), 98);

    // No other key lacks a virtual key or an action code.
    for (const QXKeyRecord& k : QXKeyTable::keys()) {
        if (k.has(QXKeyRecord::kExtra))
            continue;
        EXPECT_NE(k.virtualKey, 0u) << toUtf8(k.name);
        EXPECT_NE(int{k.actionCode}, 0) << toUtf8(k.name);
    }
}

TEST(QXKeyTable, KeyPairsShareCodesButNotDisplaysOrSlots) {
    const QXKeyRecord& enter = QXKeyTable::key(indexOf(u"Return"));
    const QXKeyRecord& padEnter = QXKeyTable::key(indexOf(u"KeypadEnter"));
    EXPECT_EQ(enter.virtualKey, 0x0Du);
    EXPECT_EQ(padEnter.virtualKey, 0x0Du);
    EXPECT_EQ(int{enter.scanCode}, 0x1C);
    EXPECT_EQ(int{padEnter.scanCode}, 0x1C);
    EXPECT_NE(int{enter.displayNumber}, int{padEnter.displayNumber});
    EXPECT_NE(int{enter.codeSlot}, int{padEnter.codeSlot});
    EXPECT_EQ(int{enter.actionCode}, 0x28);
    EXPECT_EQ(int{padEnter.actionCode}, 0x58);

    EXPECT_EQ(int{QXKeyTable::key(indexOf(u"CtrlLeft")).scanCode},
              int{QXKeyTable::key(indexOf(u"CtrlRight")).scanCode});
    EXPECT_EQ(int{QXKeyTable::key(indexOf(u"AltLeft")).scanCode},
              int{QXKeyTable::key(indexOf(u"AltRight")).scanCode});
}

TEST(QXKeyTable, FlagsAgreeWithTheKeys) {
    std::set<std::string> functionKeys, lockKeys, modifiers;
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i) {
        const QXKeyRecord& k = QXKeyTable::key(i);
        if (k.has(QXKeyRecord::kFunction))
            functionKeys.insert(nameOf(i));
        if (k.has(QXKeyRecord::kLock))
            lockKeys.insert(nameOf(i));
        if (k.has(QXKeyRecord::kModifier)) {
            modifiers.insert(nameOf(i));
            // The side of a modifier decides its display name, so it must be unambiguous.
            EXPECT_NE(k.has(QXKeyRecord::kLeftHalf), k.has(QXKeyRecord::kRightHalf)) << nameOf(i);
        }
        if (k.has(QXKeyRecord::kKeypad) && nameOf(i) != "NumLock") {
            EXPECT_EQ(nameOf(i).rfind("Keypad", 0), 0u) << nameOf(i) << " is not on the keypad";
        }
    }
    EXPECT_EQ(functionKeys, (std::set<std::string>{"F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8",
                                                   "F9", "F10", "F11", "F12"}));
    EXPECT_EQ(lockKeys, (std::set<std::string>{"ScrollLock", "NumLock", "CapsLock"}));
    EXPECT_EQ(modifiers, (std::set<std::string>{"ShiftLeft", "ShiftRight", "CtrlLeft", "CtrlRight",
                                                "CmdLeft", "AltLeft", "AltRight"}));
    const QXKeyRecord& space = QXKeyTable::key(indexOf(u"Spacebar"));
    EXPECT_TRUE(space.has(QXKeyRecord::kLeftHalf) && space.has(QXKeyRecord::kRightHalf));
}

TEST(QXKeyTable, FindsKeysByExactName) {
    EXPECT_EQ(QXKeyTable::findKeyByName(u"Spacebar"), 103u);
    EXPECT_EQ(QXKeyTable::findKeyByName(u"Escape"), 0u);
    EXPECT_EQ(QXKeyTable::findKeyByName(u"KeypadEnter"), 112u);
    EXPECT_EQ(QXKeyTable::findKeyByName(u"Space"), std::nullopt) << "labels are not names";
    EXPECT_EQ(QXKeyTable::findKeyByName(u"spacebar"), std::nullopt) << "names are case-sensitive";
    EXPECT_EQ(QXKeyTable::findKeyByName(u""), std::nullopt);
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i)
        EXPECT_EQ(QXKeyTable::findKeyByName(QXKeyTable::key(i).name), i);
}

TEST(QXKeyTable, FindsKeysByActionCode) {
    // Apart from the extra keys, every key sends a named code of its own.
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i) {
        const QXKeyRecord& k = QXKeyTable::key(i);
        if (k.has(QXKeyRecord::kExtra))
            continue;
        EXPECT_FALSE(QXKeyTable::actionCodeName(k.actionCode).empty()) << nameOf(i);
        EXPECT_EQ(QXKeyTable::findKeyByActionCode(k.actionCode), i) << nameOf(i);
    }
    EXPECT_EQ(QXKeyTable::findKeyByActionCode(0x04), indexOf(u"A"));
    EXPECT_EQ(QXKeyTable::findKeyByActionCode(0), indexOf(u"L1"))
        << "the first key sending nothing";
    EXPECT_EQ(QXKeyTable::findKeyByActionCode(0x79), std::nullopt) << "no right Win key";
    EXPECT_EQ(QXKeyTable::findKeyByActionCode(0x9D), std::nullopt);
}

TEST(QXKeyTable, ActionCodeNames) {
    EXPECT_EQ(QXKeyTable::actionCodeName(0x04), u"a");
    EXPECT_EQ(QXKeyTable::actionCodeName(0x28), u"enter");
    EXPECT_EQ(QXKeyTable::actionCodeName(0x38), u"interrogation");
    EXPECT_EQ(QXKeyTable::actionCodeName(0x64), u"\\");
    EXPECT_EQ(QXKeyTable::actionCodeName(0x65), u"app");
    EXPECT_EQ(QXKeyTable::actionCodeName(0x66), u"padequ");
    EXPECT_EQ(QXKeyTable::actionCodeName(0x81), u"calender");
    EXPECT_EQ(QXKeyTable::actionCodeName(0x9D), u"Media play");
    EXPECT_EQ(QXKeyTable::actionCodeName(0xA7), u"fn");
    for (int code : {0x00, 0x01, 0x03, 0xA8, 0xFF})
        EXPECT_TRUE(QXKeyTable::actionCodeName(static_cast<uint8_t>(code)).empty()) << code;
    for (int code = 0x04; code <= 0xA7; ++code)
        EXPECT_FALSE(QXKeyTable::actionCodeName(static_cast<uint8_t>(code)).empty()) << code;
}

TEST(QXKeyTable, DisplayNamesTellModifierSidesApart) {
    EXPECT_EQ(QXKeyTable::actionDisplayName(0x73), u"Left Shift");
    EXPECT_EQ(QXKeyTable::actionDisplayName(0x77), u"Right Shift");
    EXPECT_EQ(QXKeyTable::actionDisplayName(0x72), u"Left Ctrl");
    EXPECT_EQ(QXKeyTable::actionDisplayName(0x76), u"Right Ctrl");
    EXPECT_EQ(QXKeyTable::actionDisplayName(0x75), u"Left Win");
    EXPECT_EQ(QXKeyTable::actionDisplayName(0x74), u"Alt");
    EXPECT_EQ(QXKeyTable::actionDisplayName(0x78), u"AltGr");
    // Keys that are no modifiers show their label; codes no key sends show their name.
    EXPECT_EQ(QXKeyTable::actionDisplayName(0x65), u"Apps");
    EXPECT_EQ(QXKeyTable::actionDisplayName(0x04), u"A");
    EXPECT_EQ(QXKeyTable::actionDisplayName(0x34), u"\"");
    EXPECT_EQ(QXKeyTable::actionDisplayName(0x79), u"r_win");
    EXPECT_EQ(QXKeyTable::actionDisplayName(0x9D), u"Media play");
    EXPECT_EQ(QXKeyTable::actionDisplayName(0xA8), u"");
}

TEST(QXKeyTable, FramesCentreTheImageOnTheKey) {
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i) {
        const QXKeyGeometry& g = QXKeyTable::geometry(i);
        if (g.width == 2 && g.height == 2) {
            EXPECT_EQ(QXKeyTable::keyFrame(i), (QXKeyFrame{g.x, g.y, g.x + 48, g.y + 48}))
                << nameOf(i);
        }
    }
    EXPECT_EQ(QXKeyTable::keyFrame(indexOf(u"Spacebar")), (QXKeyFrame{361, 317, 649, 365}));
    EXPECT_EQ(QXKeyTable::keyFrame(indexOf(u"Backspace")), (QXKeyFrame{792, 113, 864, 161}));
    EXPECT_EQ(QXKeyTable::keyFrame(indexOf(u"KeypadPlus")), (QXKeyFrame{1233, 164, 1281, 260}));
    EXPECT_EQ(QXKeyTable::keyFrame(indexOf(u"KeypadEnter")), (QXKeyFrame{1233, 264, 1281, 360}));
}

TEST(QXKeyTable, KeysLieInRowsLeftToRightWithoutOverlapping) {
    std::map<int, size_t> lastInRow;
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i) {
        QXKeyFrame f = QXKeyTable::keyFrame(i);
        EXPECT_GE(f.left, 0) << nameOf(i);
        EXPECT_GE(f.top, 0) << nameOf(i);
        for (size_t j = 0; j < i; ++j) {
            QXKeyFrame o = QXKeyTable::keyFrame(j);
            bool overlap =
                f.left < o.right && o.left < f.right && f.top < o.bottom && o.top < f.bottom;
            EXPECT_FALSE(overlap) << nameOf(i) << " overlaps " << nameOf(j);
        }
        int row = QXKeyTable::keyRow(i);
        EXPECT_LE(row, 5) << nameOf(i);
        if (auto last = lastInRow.find(row); last != lastInRow.end()) {
            size_t j = last->second;
            EXPECT_GT(QXKeyTable::keyPlace(i), QXKeyTable::keyPlace(j)) << nameOf(i);
            EXPECT_GE(f.left, QXKeyTable::keyFrame(j).right) << nameOf(i);
        }
        lastInRow[row] = i;
    }
    EXPECT_EQ(lastInRow.size(), 6u);

    struct Place {
        std::u16string_view name;
        int row, place, x, y;
    };
    for (const Place& p : {Place{u"Escape", 0, 0, 37, 11}, Place{u"F1", 0, 2, 136, 11},
                           Place{u"L1", 1, 0, 11, 81}, Place{u"KeypadEnter", 5, 22, 1255, 263}}) {
        size_t i = indexOf(p.name);
        EXPECT_EQ(QXKeyTable::keyRow(i), p.row) << toUtf8(p.name);
        EXPECT_EQ(QXKeyTable::keyPlace(i), p.place) << toUtf8(p.name);
        EXPECT_EQ(QXKeyTable::geometry(i).secondX, p.x) << toUtf8(p.name);
        EXPECT_EQ(QXKeyTable::geometry(i).secondY, p.y) << toUtf8(p.name);
    }
}

TEST(QXKeyTable, MultimediaVerbsAreTheCodesWithIcons) {
    const std::vector<std::u16string_view> expected = {
        u"Browser back",     u"Browser favorites", u"Browser forward",  u"Browser home",
        u"Browser reload",   u"Browser search",    u"Browser stop",     u"Media mute",
        u"Media next track", u"Media play",        u"Media prev track", u"Media stop",
        u"Media vol down",   u"Media vol up",      u"System power",     u"System sleep",
        u"System wake up"};
    std::vector<std::u16string_view> names;
    for (const QXActionVerb& verb : QXKeyTable::multimediaVerbs()) {
        names.push_back(verb.name);
        EXPECT_EQ(QXKeyTable::actionCodeName(verb.code), verb.name);
    }
    EXPECT_EQ(names, expected);

    EXPECT_TRUE(QXKeyTable::verbIcon(0x04).empty());
    EXPECT_TRUE(QXKeyTable::verbIcon(0x00).empty());
    EXPECT_TRUE(QXKeyTable::verbIcon(0xA7).empty());
}

TEST(QXKeyTable, EveryVerbIconIsADistinct48By48Png) {
    std::set<std::vector<unsigned char>> seen;
    for (const QXActionVerb& verb : QXKeyTable::multimediaVerbs()) {
        std::span<const unsigned char> icon = QXKeyTable::verbIcon(verb.code);
        std::string what = toUtf8(verb.name);
        ASSERT_FALSE(icon.empty()) << what;
        EXPECT_TRUE(seen.insert({icon.begin(), icon.end()}).second) << what << " repeats an icon";

        FIMEMORY* memory =
            FreeImage_OpenMemory(const_cast<BYTE*>(icon.data()), static_cast<DWORD>(icon.size()));
        ASSERT_NE(memory, nullptr);
        EXPECT_EQ(FreeImage_GetFileTypeFromMemory(memory), FIF_PNG) << what;
        FIBITMAP* bitmap = FreeImage_LoadFromMemory(FIF_PNG, memory);
        EXPECT_NE(bitmap, nullptr) << what << " does not decode";
        if (bitmap) {
            EXPECT_EQ(FreeImage_GetWidth(bitmap), 48u) << what;
            EXPECT_EQ(FreeImage_GetHeight(bitmap), 48u) << what;
            FreeImage_Unload(bitmap);
        }
        FreeImage_CloseMemory(memory);
    }
}

} // namespace
