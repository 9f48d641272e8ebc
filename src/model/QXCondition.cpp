#include "model/QXCondition.h"

#include "platform/QXGuid.h"

#include <cstdio>
#include <string>

namespace {

const QXSystemState g_idleState;
const QXSystemState* g_state = &g_idleState;

constexpr char16_t kMaskLetters[] = u"acszlknr";

uint32_t parseHex(std::u16string_view text) {
    uint32_t value = 0;
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    if (i + 1 < text.size() && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X'))
        i += 2;
    for (; i < text.size(); ++i) {
        char16_t c = text[i];
        int digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            break;
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return value;
}

std::u16string hex8(uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return std::u16string(text, text + 8);
}

} // namespace

const QXSystemState& QXSystemState::current() {
    return *g_state;
}

void QXSystemState::setCurrent(const QXSystemState* state) {
    g_state = state ? state : &g_idleState;
}

QXPropertyNode::Ptr QXCondition::addEntry(QXPropertyNode& conditions) const {
    QXPropertyNode::Ptr entry = conditions.addChild(newGuid());
    entry->addChild(u"Type", m_type);
    return entry;
}

// ---- language ------------------------------------------------------------------------

bool QXSysLayoutCondition::evaluate() {
    return QXSystemState::current().currentLayout() == m_layout;
}

void QXSysLayoutCondition::loadFrom(const QXPropertyNode& node) {
    m_layout = parseHex(node.childValue(u"PCLayoutID"));
}

void QXSysLayoutCondition::saveTo(QXPropertyNode& conditions) const {
    addEntry(conditions)->addChild(u"PCLayoutID", hex8(m_layout));
}

int QXSysLayoutCondition::iconIndex() const {
    return QXSystemState::current().layoutIndex(m_layout);
}

// ---- modifier and lock ---------------------------------------------------------------

bool QXModifierCondition::evaluate() {
    return (m_mask & QXSystemState::current().modifierState()) == m_mask;
}

void QXModifierCondition::loadFrom(const QXPropertyNode& node) {
    m_mask = parseMask(node.childValue(u"Modifiers"));
}

void QXModifierCondition::saveTo(QXPropertyNode& conditions) const {
    addEntry(conditions)->addChild(u"Modifiers", maskText(m_mask));
}

std::u16string QXModifierCondition::maskText(uint32_t mask) {
    if ((mask & 0xFF) == 0)
        return u"Main";
    std::u16string text;
    for (int bit = 0; bit < 8; ++bit)
        if (mask & (1u << bit))
            text.push_back(kMaskLetters[bit]);
    return text;
}

uint32_t QXModifierCondition::parseMask(std::u16string_view text) {
    if (text == u"Main")
        return 0;
    uint32_t mask = 0;
    for (char16_t c : text)
        for (int bit = 0; bit < 8; ++bit)
            if (c == kMaskLetters[bit])
                mask |= 1u << bit;
    return mask;
}

// ---- application ---------------------------------------------------------------------

bool QXApplicationCondition::evaluate() {
    const QXSystemState& state = QXSystemState::current();
    return m_foreground ? state.isApplicationForeground(m_application)
                        : state.isApplicationRunning(m_application);
}

void QXApplicationCondition::loadFrom(const QXPropertyNode& node) {
    m_application = node.childValue(u"PCApplicationID");
    m_foreground = node.childValue(u"Predicate") == u"is foreground";
}

void QXApplicationCondition::saveTo(QXPropertyNode& conditions) const {
    QXPropertyNode::Ptr entry = addEntry(conditions);
    entry->addChild(u"PCApplicationID", m_application);
    entry->addChild(u"Predicate", m_foreground ? u"is foreground" : u"is running");
}

int QXApplicationCondition::iconIndex() const {
    return QXSystemState::current().applicationIconIndex(m_application);
}

// ---- system and plug-in --------------------------------------------------------------

bool QXSysCondition::evaluate() {
    return QXSystemState::current().isKeyboardConnected();
}

void QXStoredPluginCondition::saveTo(QXPropertyNode& conditions) const {
    QXKeyPluginInstance::saveTo(*addEntry(conditions));
}

// ---- lists ---------------------------------------------------------------------------

QXConditionList readConditions(const QXPropertyNode& itemNode) {
    QXConditionList list;
    QXPropertyNode::Ptr stored = itemNode.findChild(u"Conditions");
    if (!stored)
        return list;
    for (const QXPropertyNode::Ptr& entry : stored->children()) {
        const std::u16string type = entry->childValue(u"Type");
        QXPtr<QXCondition> condition;
        if (type == u"language")
            condition = makeQX<QXSysLayoutCondition>();
        else if (type == u"modifier")
            condition = makeQX<QXModifierCondition>();
        else if (type == u"lock")
            condition = makeQX<QXLockCondition>();
        else if (type == u"application")
            condition = makeQX<QXApplicationCondition>();
        else if (type == u"plugin")
            condition = QXPluginInstanceFactory::current().createPluginCondition(*entry);
        if (!condition)
            continue;
        if (type != u"plugin")
            condition->loadFrom(*entry);
        list.push_back(condition);
    }
    return list;
}

void writeConditions(const QXConditionList& conditions, QXPropertyNode& itemNode) {
    if (conditions.empty())
        return;
    QXPropertyNode::Ptr stored = itemNode.addChild(u"Conditions");
    for (const QXPtr<QXCondition>& condition : conditions)
        if (condition)
            condition->saveTo(*stored);
}

bool evaluateAll(const QXConditionList& conditions) {
    for (const QXPtr<QXCondition>& condition : conditions)
        if (!condition || !condition->evaluate())
            return false;
    return true;
}
