#include "platform/QXGuid.h"

#include <cctype>
#include <uuid/uuid.h>

std::u16string newGuid() {
    uuid_t id;
    uuid_generate(id);
    char text[37];
    uuid_unparse_upper(id, text);
    std::u16string guid = u"{";
    for (const char* p = text; *p; ++p)
        guid.push_back(static_cast<char16_t>(*p));
    guid.push_back(u'}');
    return guid;
}
