#include "StoreTestUtil.h"

#include "platform/QXText.h"

#include <FreeImagePlus.h>
#include <stdexcept>

namespace storetest {

std::vector<std::u16string> keyNames() {
    return {u"Escape", u"F1", u"F2", u"A", u"Spacebar", u"KeypadEnter"};
}

void writePng(const std::filesystem::path& path, unsigned r, unsigned g, unsigned b,
              unsigned size) {
    fipImage image(FIT_BITMAP, size, size, 24);
    for (unsigned y = 0; y < size; ++y) {
        BYTE* line = image.getScanLine(y);
        for (unsigned x = 0; x < size; ++x) {
            line[x * 3 + FI_RGBA_RED] = static_cast<BYTE>(r);
            line[x * 3 + FI_RGBA_GREEN] = static_cast<BYTE>(g);
            line[x * 3 + FI_RGBA_BLUE] = static_cast<BYTE>(b);
        }
    }
    std::filesystem::create_directories(path.parent_path());
    if (!image.save(path.c_str()))
        throw std::runtime_error("cannot write " + path.string());
}

std::string difference(const QXPropertyNode& a, const QXPropertyNode& b) {
    const std::string where = toUtf8(a.name());
    if (a.name() != b.name())
        return "name " + toUtf8(a.name()) + " vs " + toUtf8(b.name());
    if (a.value() != b.value())
        return where + ": value \"" + toUtf8(a.value()) + "\" vs \"" + toUtf8(b.value()) + "\"";
    if (bool(a.image()) != bool(b.image()))
        return where + ": picture on one side only";
    if (a.children().size() != b.children().size())
        return where + ": " + std::to_string(a.children().size()) + " vs " +
               std::to_string(b.children().size()) + " children";
    for (size_t i = 0; i < a.children().size(); ++i) {
        std::string d = difference(*a.children()[i], *b.children()[i]);
        if (!d.empty())
            return where + "/" + d;
    }
    return {};
}

QXPropertyNode::Ptr at(const QXPropertyNode::Ptr& node, const std::u16string& path) {
    QXPropertyNode::Ptr current = node;
    size_t start = 0;
    while (current && start <= path.size()) {
        size_t slash = path.find(u'/', start);
        std::u16string part = path.substr(start, slash == std::u16string::npos ? slash : slash - start);
        current = current->findChild(part);
        if (slash == std::u16string::npos)
            break;
        start = slash + 1;
    }
    return current;
}

std::vector<std::u16string> childNames(const QXPropertyNode::Ptr& node) {
    std::vector<std::u16string> names;
    if (node)
        for (const auto& child : node->children())
            names.push_back(child->name());
    return names;
}

QXPropertyNode::Ptr layerNode(const std::u16string& id, const std::u16string& displayName) {
    auto node = makeQX<QXPropertyNode>(id);
    node->addChild(u"DisplayName", displayName);
    node->addChild(u"Disabled", u"false");
    return node;
}

} // namespace storetest
