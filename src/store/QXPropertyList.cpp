#include "store/QXPropertyList.h"

#include "platform/QXFiles.h"
#include "platform/QXText.h"
#include "store/QXXmlDocument.h"

#include <string_view>
#include <unordered_map>

namespace {

// The skeleton every written file starts from: declaration, DOCTYPE, the "plist" root
// and an empty top-level "dict".
constexpr const char* kSkeleton =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n<dict/>\n</plist>\n";

std::u16string elementText(const TiXmlElement* element) {
    const TiXmlNode* first = element->FirstChild();
    if (first && first->ToText())
        return fromUtf8(first->Value());
    return {};
}

std::u16string widenName(const char* name) {
    std::u16string out;
    for (const char* p = name; *p; ++p)
        out.push_back(static_cast<unsigned char>(*p));
    return out;
}

const TiXmlElement* rootDictionary(const TiXmlDocument& document) {
    const TiXmlElement* first = document.FirstChildElement();
    return first ? first->FirstChildElement("dict") : nullptr;
}

QXPropertyNode::Ptr nodeFromDocument(const TiXmlDocument& document, std::u16string name) {
    auto node = makeQX<QXPropertyNode>(std::move(name));
    if (const TiXmlElement* dict = rootDictionary(document))
        readDictionary(dict, *node);
    return node;
}

void appendText(TiXmlElement* parent, const char* elementName, std::u16string_view text) {
    auto* element = new TiXmlElement(elementName);
    if (!text.empty())
        element->LinkEndChild(new TiXmlText(toUtf8(text)));
    parent->LinkEndChild(element);
}

bool buildDocument(QXXmlDocument& document, const std::function<void(TiXmlElement*)>& fill) {
    if (!document.parseText(kSkeleton))
        return false;
    fill(document.FirstChildElement()->FirstChildElement("dict"));
    return true;
}

} // namespace

namespace {

// Adds children by the replace-or-append rule in constant time each: reading a
// dictionary of many thousand entries stays linear. The node starts empty.
class ChildAdder {
public:
    explicit ChildAdder(QXPropertyNode& node) : m_node(node) {}
    QXPropertyNode::Ptr add(std::u16string name) {
        auto child = makeQX<QXPropertyNode>(name);
        auto [it, inserted] = m_index.try_emplace(std::move(name), m_node.children().size());
        if (inserted)
            m_node.appendChild(child);
        else
            m_node.replaceChild(it->second, child);
        return child;
    }

private:
    QXPropertyNode& m_node;
    std::unordered_map<std::u16string, size_t> m_index;
};

} // namespace

void readDictionary(const TiXmlElement* dict, QXPropertyNode& node) {
    // Entries of a node that already has children follow the ordinary rule.
    if (node.hasChildren()) {
        QXPropertyNode scratch(node.name());
        readDictionary(dict, scratch);
        for (const QXPropertyNode::Ptr& child : scratch.children())
            node.addChild(child);
        return;
    }
    ChildAdder entries(node);
    const TiXmlElement* key = dict->FirstChildElement("key");
    while (key) {
        const TiXmlNode* valueNode = key->NextSibling();
        const TiXmlElement* value = valueNode ? valueNode->ToElement() : nullptr;
        if (!value) {
            // A key without a value element is skipped.
            key = key->NextSiblingElement("key");
            continue;
        }
        QXPropertyNode::Ptr child = entries.add(elementText(key));
        std::string_view kind = value->Value();
        if (kind == "dict") {
            readDictionary(value, *child);
        } else if (kind == "array") {
            ChildAdder items(*child);
            for (const TiXmlElement* item = value->FirstChildElement("string"); item;
                 item = item->NextSiblingElement("string"))
                items.add(elementText(item));
        } else if (kind == "string") {
            child->setValue(elementText(value));
        } else {
            child->setValue(widenName(value->Value()));
        }
        key = value->NextSiblingElement("key");
    }
}

void writeEntries(TiXmlElement* dict, const QXPropertyNode::Children& children,
                  const QXImageEntryWriter& imageWriter) {
    for (const QXPropertyNode::Ptr& child : children) {
        if (!child)
            continue;
        if (imageWriter && child->image()) {
            imageWriter(*child);
            continue;
        }
        appendText(dict, "key", child->name());
        if (child->hasChildren()) {
            auto* sub = new TiXmlElement("dict");
            dict->LinkEndChild(sub);
            writeEntries(sub, child->children(), imageWriter);
        } else if (child->value() == u"true" || child->value() == u"false") {
            dict->LinkEndChild(new TiXmlElement(child->value() == u"true" ? "true" : "false"));
        } else {
            appendText(dict, "string", child->value());
        }
    }
}

QXPropertyNode::Ptr loadPropertyList(const std::filesystem::path& path, std::u16string name,
                                     QXLoadStatus* status) {
    std::error_code ec;
    bool exists = std::filesystem::symlink_status(path, ec).type() !=
                  std::filesystem::file_type::not_found;
    QXXmlDocument document(path);
    if (!document.load()) {
        if (status)
            *status = exists ? QXLoadStatus::Unreadable : QXLoadStatus::Missing;
        return {};
    }
    if (status)
        *status = rootDictionary(document) ? QXLoadStatus::Loaded : QXLoadStatus::Empty;
    return nodeFromDocument(document, std::move(name));
}

QXPropertyNode::Ptr parsePropertyList(std::string text, std::u16string name) {
    QXXmlDocument document({});
    if (!document.parseText(std::move(text)))
        return {};
    return nodeFromDocument(document, std::move(name));
}

bool savePropertyList(const QXPropertyNode& node, const std::filesystem::path& path) {
    return savePropertyList(node, path, {});
}

bool savePropertyList(const QXPropertyNode& node, const std::filesystem::path& path,
                      const QXImageEntryWriter& imageWriter) {
    return savePropertyListWith(
        path, [&](TiXmlElement* dict) { writeEntries(dict, node.children(), imageWriter); });
}

bool savePropertyListWith(const std::filesystem::path& path,
                          const std::function<void(TiXmlElement* dict)>& fill) {
    QXXmlDocument document(path);
    return buildDocument(document, fill) && document.save();
}

void writeStringArray(TiXmlElement* dict, std::u16string_view name,
                      const std::vector<std::u16string>& values) {
    appendText(dict, "key", name);
    auto* array = new TiXmlElement("array");
    dict->LinkEndChild(array);
    for (const std::u16string& value : values)
        appendText(array, "string", value);
}

std::string printPropertyList(const QXPropertyNode& node) {
    QXXmlDocument document({});
    if (!buildDocument(document,
                       [&](TiXmlElement* dict) { writeEntries(dict, node.children()); }))
        return {};
    return document.print();
}
