#pragma once

#include "store/QXPropertyNode.h"

#include <cstdint>

// Common bases of the model's shared objects.

class QXBaseObject {
public:
    virtual ~QXBaseObject() = default;
};

// A 32-bit set of flags.
class QXObjectFlags {
public:
    uint32_t flags() const { return m_flags; }
    bool hasFlag(uint32_t flag) const { return (m_flags & flag) == flag; }
    void setFlag(uint32_t flag, bool on = true) { m_flags = on ? (m_flags | flag) : (m_flags & ~flag); }
    void clearFlag(uint32_t flag) { setFlag(flag, false); }

protected:
    explicit QXObjectFlags(uint32_t flags = 0) : m_flags(flags) {}

private:
    uint32_t m_flags;
};

template <class T> class QXObject : public QXBaseObject, public QXObjectFlags {
protected:
    explicit QXObject(uint32_t flags = 0) : QXObjectFlags(flags) {}
};

// A free-form "Properties" dictionary kept with an item or a button. The node is shared
// with the document it was read from, so edits reach the next save.
class QXPropertiesStore {
public:
    const QXPropertyNode::Ptr& properties() const { return m_properties; }
    void setProperties(QXPropertyNode::Ptr properties) { m_properties = std::move(properties); }
    bool hasProperties() const { return m_properties && m_properties->hasChildren(); }

    // The dictionary, created (empty, named "Properties") when there is none yet.
    QXPropertyNode& ensureProperties() {
        if (!m_properties)
            m_properties = makeQX<QXPropertyNode>(u"Properties");
        return *m_properties;
    }

private:
    QXPropertyNode::Ptr m_properties;
};
