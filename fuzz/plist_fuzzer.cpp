// Feeds arbitrary bytes to the property-list reader. Whatever it reads must print and
// read back to the same text: what the program writes, it reads unchanged.
#include "store/QXPropertyList.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
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
