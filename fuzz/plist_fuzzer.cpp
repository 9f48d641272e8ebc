// Feeds arbitrary bytes to the property-list reader. Whatever it reads must print and
// read back to the same text: what the program writes, it reads unchanged. And whatever
// the document reader lets through to TinyXML must nest no deeper than its limit, since
// TinyXML recurses once per level.
#include "store/QXPropertyList.h"
#include "store/QXXmlDocument.h"

#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

constexpr int kDocumentDepthLimit = 512;

int depthOf(const TiXmlNode* root) {
    int deepest = 0;
    std::vector<std::pair<const TiXmlNode*, int>> stack{{root, 0}};
    while (!stack.empty()) {
        auto [node, depth] = stack.back();
        stack.pop_back();
        deepest = std::max(deepest, depth);
        for (const TiXmlNode* child = node->FirstChild(); child; child = child->NextSibling())
            stack.emplace_back(child, depth + 1);
    }
    return deepest;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);

    QXXmlDocument document({});
    document.parseText(text);
    // The document node adds one level, the elements' text another.
    if (depthOf(&document) > kDocumentDepthLimit + 2) {
        std::fprintf(stderr, "TinyXML nested deeper than the reader allows\n");
        std::abort();
    }

    QXPropertyNode::Ptr node = parsePropertyList(text, u"fuzz");
    if (!node)
        return 0;
    std::string printed = printPropertyList(*node);
    QXPropertyNode::Ptr again = parsePropertyList(printed, u"fuzz");
    if (!again || printPropertyList(*again) != printed) {
        std::fprintf(stderr, "a written property list did not read back the same\n");
        std::abort();
    }
    return 0;
}
