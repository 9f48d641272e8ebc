#include "model/QXLanguageLayers.h"

#include "model/QXKeyTable.h"

#include <algorithm>
#include <cstdio>

namespace QXLanguageLayers {

namespace {

constexpr uint32_t kHeldBits = 0x0F;  // Alt, Ctrl, Shift, Windows
constexpr uint32_t kLockBits = 0xF0;  // Caps, Kana, Num, Scroll
constexpr size_t kKeypadDot = 111;
constexpr uint8_t kKeypadDotScan = 83;
constexpr uint8_t kKeypadDotAction = 99;

// The action code a scan code sends: that of the last key with that scan code.
uint8_t actionCodeOfScanCode(uint8_t scanCode) {
    uint8_t code = 0;
    if (scanCode < 1 || scanCode > 93)
        return 0;
    for (const QXKeyRecord& key : QXKeyTable::keys())
        if (key.scanCode == scanCode)
            code = key.actionCode;
    return code;
}

// A dead key keeps one character (one code point, which may be two code units).
std::u16string firstCharacter(const std::u16string& text) {
    const bool pair = text.size() > 1 && text[0] >= 0xD800 && text[0] < 0xDC00;
    return text.substr(0, pair ? 2 : 1);
}

bool sameButtons(const QXLayer& a, const QXLayer& b) {
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i) {
        const QXButton* x = a.getButton(i);
        const QXButton* y = b.getButton(i);
        if (x->keystroke != y->keystroke || x->scanCode != y->scanCode ||
            x->actionCode != y->actionCode)
            return false;
    }
    return true;
}

void addConditions(QXLayer& layer, uint32_t mask) {
    if (mask & kHeldBits)
        layer.addCondition(makeQX<QXModifierCondition>(mask));
    if (mask & kLockBits)
        layer.addCondition(makeQX<QXLockCondition>(mask));
}

// The layer of one mask, or nothing when no key has text under it.
QXLayer::Ptr generate(uint32_t layout, uint32_t mask, const std::u16string& abbreviation,
                      QXLayoutSource& source) {
    auto layer = makeQX<QXLayer>(abbreviation + u"-" + QXModifierCondition::maskText(mask));
    bool any = false;
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i) {
        const QXKeyRecord& key = QXKeyTable::key(i);
        if (key.flags & (QXKeyRecord::kNoCharacter | QXKeyRecord::kKeypad | QXKeyRecord::kExtra))
            continue;
        std::optional<QXLayoutSource::KeyText> text = source.keyText(layout, key.scanCode, mask);
        if (!text || text->text.empty())
            continue;
        QXButton* button = layer->getButton(i);
        button->keystroke = text->dead ? firstCharacter(text->text) : text->text;
        button->scanCode = key.scanCode;
        button->actionCode = actionCodeOfScanCode(key.scanCode);
        any = true;
    }
    if (!any)
        return {};
    layer->setDisplayName(maskDisplayName(mask));
    layer->setFlag(QXLayersItem::kFixed | QXLayersItem::kEnabled);
    addConditions(*layer, mask);
    return layer;
}

bool isLanguageGroup(const QXLayersItem& item, uint32_t* layout) {
    if (item.conditions().empty() || !item.conditions()[0])
        return false;
    auto* condition = dynamic_cast<const QXSysLayoutCondition*>(item.conditions()[0].get());
    if (!condition)
        return false;
    *layout = condition->layout();
    return true;
}

} // namespace

std::vector<uint32_t> masks() {
    std::vector<uint32_t> result;
    for (uint32_t m = 0; m < 64; ++m) {
        if ((m & 0x0B) == 0)
            result.push_back(m);
        if (m == 3)
            result.push_back(m);
    }
    return result;
}

std::u16string groupIdentifier(uint32_t layout) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", layout);
    return std::u16string(text, text + 8);
}

std::u16string maskDisplayName(uint32_t mask) {
    static const char16_t* const kNames[] = {u"Alt",  u"Ctrl", u"Shift", u"Win",
                                             u"Caps", u"Kana", u"Num",   u"Scroll"};
    if ((mask & 0xFF) == 0)
        return u"Main";
    std::u16string name;
    for (int bit = 0; bit < 8; ++bit) {
        if (!(mask & (1u << bit)))
            continue;
        if (!name.empty())
            name += u"+";
        name += kNames[bit];
    }
    return name;
}

QXPtr<QXLayersGroup> createGroup(uint32_t layout, QXLayoutSource& source) {
    auto group = makeQX<QXLayersGroup>(groupIdentifier(layout));
    const std::u16string language = source.languageName(layout);
    const std::u16string layoutName = source.layoutName(layout);
    group->setDisplayName(language.empty() ? layoutName : language + u" - " + layoutName);
    group->setFlag(QXLayersItem::kFixed);
    group->addCondition(makeQX<QXSysLayoutCondition>(layout));

    const std::u16string abbreviation = source.abbreviation(layout);
    for (uint32_t mask : masks()) {
        QXLayer::Ptr layer = generate(layout, mask, abbreviation, source);
        if (!layer)
            continue;
        bool duplicate = std::any_of(
            group->children().begin(), group->children().end(), [&](const QXLayersItem::Ptr& other) {
                auto otherLayer = other.dynamicCast<QXLayer>();
                return otherLayer && sameButtons(*otherLayer, *layer);
            });
        if (!duplicate)
            insertItem(group->children(), layer);
    }

    auto num = makeQX<QXLayer>(abbreviation + u"-n");
    num->setDisplayName(u"Num");
    num->setFlag(QXLayersItem::kFixed | QXLayersItem::kEnabled);
    num->addCondition(makeQX<QXLockCondition>(QXModifier::kNumLock));
    QXButton* dot = num->getButton(kKeypadDot);
    dot->scanCode = kKeypadDotScan;
    dot->actionCode = kKeypadDotAction;
    dot->keystroke = source.decimalSeparator(layout).substr(0, 6);
    addItem(group->children(), num);
    return group;
}

bool synchronise(QXLayersItem& systemLayers, QXLayoutSource& source) {
    std::optional<std::vector<uint32_t>> installed = source.installedLayouts();
    if (!installed)
        return false;
    bool changed = false;
    QXItemList& items = systemLayers.children();
    QXLayersItem::Ptr previous;
    for (uint32_t layout : *installed) {
        QXLayersItem::Ptr group = findItem(items, groupIdentifier(layout));
        if (!group) {
            group = createGroup(layout, source);
            markAllChanged(*group);
            // After the previous layout's group, so the groups follow the system's order.
            insertItem(items, group, previous);
            changed = true;
        }
        // The fixed marks are not stored: the group and the layers made for it get them
        // again (a user's own layer in the group, named by a GUID, stays the user's).
        group->setFlag(QXLayersItem::kFixed);
        for (const QXLayersItem::Ptr& child : group->children())
            if (!child->isGroup() && !child->identifier().starts_with(u'{'))
                child->setFlag(QXLayersItem::kFixed);
        previous = group;
    }
    const size_t before = items.size();
    std::erase_if(items, [&](const QXLayersItem::Ptr& item) {
        uint32_t layout = 0;
        return isLanguageGroup(*item, &layout) &&
               std::find(installed->begin(), installed->end(), layout) == installed->end();
    });
    return changed || items.size() != before;
}

} // namespace QXLanguageLayers
