#include "store/QXPropertyNode.h"

#include "store/QXImage.h"

QXPropertyNode::QXPropertyNode(std::u16string name, std::u16string value, QXPtr<QXImage> image)
    : m_name(std::move(name)), m_value(std::move(value)), m_image(std::move(image)) {}

QXPropertyNode::Ptr QXPropertyNode::findChild(std::u16string_view name) const {
    for (const Ptr& child : m_children)
        if (child && child->m_name == name)
            return child;
    return {};
}

std::u16string QXPropertyNode::childValue(std::u16string_view name,
                                          std::u16string_view fallback) const {
    Ptr child = findChild(name);
    return child ? child->m_value : std::u16string(fallback);
}

QXPropertyNode::Ptr QXPropertyNode::addChild(std::u16string name, std::u16string value,
                                             QXPtr<QXImage> image) {
    return addChild(makeQX<QXPropertyNode>(std::move(name), std::move(value), std::move(image)));
}

QXPropertyNode::Ptr QXPropertyNode::addChild(Ptr child) {
    if (!child)
        return child;
    for (Ptr& existing : m_children) {
        if (existing && existing->m_name == child->m_name) {
            existing = child;
            return child;
        }
    }
    m_children.push_back(child);
    return child;
}

QXPropertyNode::Ptr QXPropertyNode::appendChild(Ptr child) {
    if (child)
        m_children.push_back(child);
    return child;
}

void QXPropertyNode::replaceChild(size_t index, Ptr child) {
    if (index < m_children.size() && child)
        m_children[index] = std::move(child);
}

bool QXPropertyNode::removeChild(std::u16string_view name) {
    for (auto it = m_children.begin(); it != m_children.end(); ++it) {
        if (*it && (*it)->m_name == name) {
            m_children.erase(it);
            return true;
        }
    }
    return false;
}
