#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Where a POP3 mailbox lives, from the "Server" text a user types: "host" (port 110),
// "host:port", or "pop3s://host[:port]" for TLS from the first byte (port 995 unless
// given). An IPv6 literal is written in brackets when a port follows ("[::1]:110").
struct QXMailServerAddress {
    std::string host;         // UTF-8, brackets removed
    std::uint16_t port = 110; //
    bool implicitTls = false; // "pop3s://"
};

// Empty when the text names no host or carries a port that is not 1..65535.
std::optional<QXMailServerAddress> parseMailServer(std::string_view text);
