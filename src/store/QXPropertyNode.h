#pragma once

#include "store/QXImage.h"
#include "store/QXPtr.h"

#include <string>
#include <string_view>
#include <vector>


// One entry of a property list: a name, a text value, an optional key picture and
// ordered children with unique names. A node with children is a dictionary; its value
// is then not written. Every value is text: numbers are decimal text, booleans are
// exactly "true" and "false".
class QXPropertyNode : public QXTypes<QXPropertyNode> {
public:
    using Children = std::vector<QXPtr<QXPropertyNode>>;

    QXPropertyNode() = default;
    explicit QXPropertyNode(std::u16string name, std::u16string value = {},
                            QXPtr<QXImage> image = {});

    // Copies name, value and the image pointer; the children are shared, not copied.
    QXPropertyNode(const QXPropertyNode&) = default;
    QXPropertyNode& operator=(const QXPropertyNode&) = default;

    const std::u16string& name() const { return m_name; }
    void setName(std::u16string name) { m_name = std::move(name); }
    const std::u16string& value() const { return m_value; }
    void setValue(std::u16string value) { m_value = std::move(value); }
    const QXPtr<QXImage>& image() const { return m_image; }
    void setImage(QXPtr<QXImage> image) { m_image = std::move(image); }

    const Children& children() const { return m_children; }
    bool hasChildren() const { return !m_children.empty(); }

    // The first child with exactly this name, or an empty pointer.
    Ptr findChild(std::u16string_view name) const;

    // The value of the named child, or fallback when there is no such child.
    std::u16string childValue(std::u16string_view name, std::u16string_view fallback = {}) const;

    // Adds a child: one with the same name is replaced in place, otherwise the new one
    // is appended. Returns the added node.
    Ptr addChild(std::u16string name, std::u16string value = {}, QXPtr<QXImage> image = {});
    Ptr addChild(Ptr child);

    // For readers that keep their own index of names: appends without looking for a
    // child of the same name, and replaces the child at a position.
    Ptr appendChild(Ptr child);
    void replaceChild(size_t index, Ptr child);

    bool removeChild(std::u16string_view name);
    void clearChildren() { m_children.clear(); }

private:
    std::u16string m_name;
    std::u16string m_value;
    QXPtr<QXImage> m_image;
    Children m_children;
};
