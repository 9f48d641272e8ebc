#pragma once

#include <cstdint>
#include <exception>
#include <string>

// A failed POP3 exchange. `hr` is 0x80000000 | facility << 16 | (code & 0xFFFF): facility 7
// carries the errno of a socket failure, facility 4 one of the client's own codes below.
// `response` is the server's last reply at the time (the partial text after a time-out).
class CPOP3Exception : public std::exception {
public:
    static constexpr std::uint32_t kFacilitySystem = 7;
    static constexpr std::uint32_t kFacilityClient = 4;

    // Client codes (facility 4).
    static constexpr std::uint32_t kLoginFailed = 518;  // greeting, USER, PASS, STLS, CAPA
    static constexpr std::uint32_t kQuitFailed = 519;   // reply to QUIT
    static constexpr std::uint32_t kNoopFailed = 520;   // reply to NOOP
    static constexpr std::uint32_t kStatFailed = 521;   // reply to STAT, or no number in it
    static constexpr std::uint32_t kCertificate = 522;  // server certificate did not verify
    static constexpr std::uint32_t kTlsFailed = 523;    // TLS could not be set up
    static constexpr std::uint32_t kServerClosed = 530; // connection closed mid-reply
    static constexpr std::uint32_t kBadServer = 531;    // "Server" text names no host

    CPOP3Exception(std::uint32_t facility, std::uint32_t code, std::u16string reply = {})
        : hr(0x80000000u | (facility << 16) | (code & 0xFFFFu)), response(std::move(reply)) {}

    std::uint32_t facility() const { return (hr >> 16) & 0x7FFFu; }
    std::uint32_t code() const { return hr & 0xFFFFu; }
    const char* what() const noexcept override { return "POP3 exchange failed"; }

    std::uint32_t hr = 0;
    std::u16string response;
};
