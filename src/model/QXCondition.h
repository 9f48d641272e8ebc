#pragma once

#include "model/QXKeyPluginInstance.h"
#include "store/QXPropertyNode.h"

#include <cstdint>
#include <string>
#include <vector>

// Bits of the modifier and lock state word.
namespace QXModifier {
constexpr uint32_t kAlt = 0x01;
constexpr uint32_t kCtrl = 0x02;
constexpr uint32_t kShift = 0x04;
constexpr uint32_t kWindows = 0x08;
constexpr uint32_t kCapsLock = 0x10;
constexpr uint32_t kKana = 0x20;
constexpr uint32_t kNumLock = 0x40;
constexpr uint32_t kScrollLock = 0x80;
} // namespace QXModifier

// What conditions ask of the running system. The application installs the live
// answers; until then every question gets the answer of an idle system with no
// keyboard (layout 0, nothing held, nothing running).
class QXSystemState {
public:
    virtual ~QXSystemState() = default;

    // The keyboard layout handle of the window with the keyboard focus.
    virtual uint32_t currentLayout() const { return 0; }
    // The position of a layout in the list of installed layouts, or -1.
    virtual int layoutIndex(uint32_t layout) const {
        (void)layout;
        return -1;
    }
    // Held modifiers and lock states: the hook's word OR the keyboard's own report.
    virtual uint32_t modifierState() const { return 0; }
    virtual bool isApplicationForeground(const std::u16string& id) const {
        (void)id;
        return false;
    }
    virtual bool isApplicationRunning(const std::u16string& id) const {
        (void)id;
        return false;
    }
    // The application's icon in the shared icon list, or -1.
    virtual int applicationIconIndex(const std::u16string& id) const {
        (void)id;
        return -1;
    }
    // A keyboard is connected (its disk and its signalling interface are known).
    virtual bool isKeyboardConnected() const { return false; }

    // The state in use; never null. The caller keeps an installed state alive.
    static const QXSystemState& current();
    static void setCurrent(const QXSystemState* state);
};

// A test of the system's state attached to a layer or group; the item is active only
// while all of its conditions hold.
class QXCondition : public QXTypes<QXCondition> {
public:
    explicit QXCondition(std::u16string type) : m_type(std::move(type)) {}
    virtual ~QXCondition() = default;

    virtual bool evaluate() = 0;
    // Reads the type's own keys from a stored entry.
    virtual void loadFrom(const QXPropertyNode& node) = 0;
    // Adds an entry named by a new GUID to the "Conditions" node and writes "Type" and
    // the type's keys into it.
    virtual void saveTo(QXPropertyNode& conditions) const = 0;
    // The picture shown next to the condition in the editor; -1 for none.
    virtual int iconIndex() const { return -1; }
    virtual void prepare() {}
    virtual void release() {}

    // "language", "modifier", "lock", "application", "plugin" or "sys_condition".
    const std::u16string& type() const { return m_type; }

protected:
    // The new entry with its "Type"; used by saveTo.
    QXPropertyNode::Ptr addEntry(QXPropertyNode& conditions) const;

private:
    std::u16string m_type;
};

// Holds while the keyboard layout of the focused window is the stored one.
class QXSysLayoutCondition : public QXCondition {
public:
    explicit QXSysLayoutCondition(uint32_t layout = 0)
        : QXCondition(u"language"), m_layout(layout) {}
    uint32_t layout() const { return m_layout; }
    void setLayout(uint32_t layout) { m_layout = layout; }

    bool evaluate() override;
    void loadFrom(const QXPropertyNode& node) override;
    void saveTo(QXPropertyNode& conditions) const override;
    int iconIndex() const override;

private:
    uint32_t m_layout;
};

// Holds while every modifier of the mask is held (an empty mask always holds).
class QXModifierCondition : public QXCondition {
public:
    explicit QXModifierCondition(uint32_t mask = 0) : QXModifierCondition(u"modifier", mask) {}
    uint32_t mask() const { return m_mask; }
    void setMask(uint32_t mask) { m_mask = mask; }

    bool evaluate() override;
    void loadFrom(const QXPropertyNode& node) override;
    void saveTo(QXPropertyNode& conditions) const override;

    // "Main" for an empty mask, else one letter per bit from the lowest up: "acszlknr".
    static std::u16string maskText(uint32_t mask);
    // The OR of the bits of every known letter; other characters are ignored.
    static uint32_t parseMask(std::u16string_view text);

protected:
    QXModifierCondition(std::u16string type, uint32_t mask)
        : QXCondition(std::move(type)), m_mask(mask) {}

private:
    uint32_t m_mask;
};

// The same test on lock states.
class QXLockCondition : public QXModifierCondition {
public:
    explicit QXLockCondition(uint32_t mask = 0) : QXModifierCondition(u"lock", mask) {}
};

// Holds while an application of the applications list is in the foreground, or running.
class QXApplicationCondition : public QXCondition {
public:
    QXApplicationCondition(std::u16string application = {}, bool foreground = false)
        : QXCondition(u"application"), m_application(std::move(application)),
          m_foreground(foreground) {}
    const std::u16string& application() const { return m_application; }
    bool foreground() const { return m_foreground; }
    void setApplication(std::u16string application) { m_application = std::move(application); }
    // Held while the application is in the foreground; otherwise while it runs.
    void setForeground(bool foreground) { m_foreground = foreground; }

    bool evaluate() override;
    void loadFrom(const QXPropertyNode& node) override;
    void saveTo(QXPropertyNode& conditions) const override;
    int iconIndex() const override;

private:
    std::u16string m_application;
    bool m_foreground;
};

// Holds while the keyboard is connected. Made by the program at start-up; never stored.
class QXSysCondition : public QXCondition {
public:
    QXSysCondition() : QXCondition(u"sys_condition") {}

    bool evaluate() override;
    void loadFrom(const QXPropertyNode&) override {}
    void saveTo(QXPropertyNode&) const override {}
};

// A condition supplied by a plug-in, as the model keeps it when no live plug-in stands
// behind it: it never holds and saves back what it read.
class QXStoredPluginCondition : public QXCondition, public QXKeyPluginInstance {
public:
    QXStoredPluginCondition() : QXCondition(u"plugin") {}

    bool evaluate() override { return false; }
    void loadFrom(const QXPropertyNode& node) override { QXKeyPluginInstance::loadFrom(node); }
    void saveTo(QXPropertyNode& conditions) const override;
};

using QXConditionList = std::vector<QXPtr<QXCondition>>;

// Reads the conditions of an item node's "Conditions" entry; unknown types are skipped.
QXConditionList readConditions(const QXPropertyNode& itemNode);
// Adds "Conditions" to the item node when the list is not empty.
void writeConditions(const QXConditionList& conditions, QXPropertyNode& itemNode);
// All conditions hold (an empty list holds; a null entry fails).
bool evaluateAll(const QXConditionList& conditions);
