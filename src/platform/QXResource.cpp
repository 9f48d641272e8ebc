#include "platform/QXResource.h"

#include "platform/QXText.h"

const QXResourceData* findResource(std::span<const QXResourceData> table, std::string_view name) {
    for (const QXResourceData& r : table)
        if (equalsIgnoringAsciiCase(std::string_view(r.name), name))
            return &r;
    return nullptr;
}
