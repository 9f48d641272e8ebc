#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qxutility {

// The password inside a text PassProtect made, as UTF-8, for the downloader to hand to
// the server; nothing when the text was altered, made with another key or no key exists.
std::optional<std::string> unprotectPassword(std::u16string_view protectedText);

} // namespace qxutility
