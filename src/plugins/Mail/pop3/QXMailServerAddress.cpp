// Parses the mail view's "Server" text.
#include "QXMailServerAddress.h"

#include <charconv>

namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

} // namespace

std::optional<QXMailServerAddress> parseMailServer(std::string_view text) {
    text = trimmed(text);
    QXMailServerAddress address;
    if (startsWithNoCase(text, "pop3s://")) {
        address.implicitTls = true;
        address.port = 995;
        text.remove_prefix(8);
    } else if (startsWithNoCase(text, "pop3://")) {
        text.remove_prefix(7);
    }
    if (!text.empty() && text.back() == '/')
        text.remove_suffix(1);

    std::string_view host = text;
    std::string_view port;
    bool hasPort = false;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        host = text.substr(1, close - 1);
        std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':')
                return std::nullopt;
            port = rest.substr(1);
            hasPort = true;
        }
    } else if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
        // More than one colon without brackets is a bare IPv6 literal, not a port.
        if (text.find(':') == colon) {
            host = text.substr(0, colon);
            port = text.substr(colon + 1);
            hasPort = true;
        }
    }
    if (host.empty())
        return std::nullopt;
    if (hasPort) {
        unsigned value = 0;
        const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (error != std::errc() || end != port.data() + port.size() || value == 0 || value > 65535)
            return std::nullopt;
        address.port = static_cast<std::uint16_t>(value);
    }
    address.host = std::string(host);
    return address;
}
