// The POP3 exchange: greeting, capabilities and STLS, USER/PASS, NOOP, STAT, QUIT.
#include "CPOP3Connection.h"

#include "QXMailServerAddress.h"
#include "platform/QXLog.h"
#include "platform/QXText.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string.h>

namespace {

bool beginsWithOk(const std::string& reply) {
    return reply.compare(0, 3, "+OK") == 0;
}

// Wipes text that held a password; explicit_bzero is not optimised away.
void wipe(std::string& text) {
    if (!text.empty())
        explicit_bzero(text.data(), text.size());
    text.clear();
}

std::string base64(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += kAlphabet[v >> 6 & 63];
        out += kAlphabet[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += i + 1 < bytes.size() ? kAlphabet[v >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

// True when a capability list ("+OK ...\r\nTOP\r\nSTLS\r\n.\r\n") has an STLS line.
bool offersStls(const std::string& capabilities) {
    std::size_t start = capabilities.find("\r\n");
    while (start != std::string::npos) {
        start += 2;
        const std::size_t end = capabilities.find("\r\n", start);
        if (end == std::string::npos)
            return false;
        std::string line = capabilities.substr(start, end - start);
        for (char& c : line)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        if (line == "STLS" || line.rfind("STLS ", 0) == 0)
            return true;
        start = end;
    }
    return false;
}

} // namespace

CPOP3Connection::~CPOP3Connection() {
    if (connected) {
        try {
            Disconnect();
        } catch (const CPOP3Exception&) {
        }
    }
}

void CPOP3Connection::Connect(const std::u16string& server, const std::u16string& user,
                              const std::u16string& password) {
    const std::optional<QXMailServerAddress> address = parseMailServer(toUtf8(server));
    if (!address)
        throw CPOP3Exception(CPOP3Exception::kFacilityClient, CPOP3Exception::kBadServer, server);
    try {
        openSocket(address->host, address->port);
        connected = true;
        if (address->implicitTls)
            startTls(address->host);
        if (!ReadCommandResponse())
            throw CPOP3Exception(CPOP3Exception::kFacilityClient, CPOP3Exception::kLoginFailed,
                                 lastResponse);
        if (!socket.secure())
            upgradeIfOffered(address->host);
        login(user, password);
    } catch (const CPOP3Exception&) {
        try {
            Disconnect();
        } catch (const CPOP3Exception&) {
        }
        throw;
    } catch (const CWSocketException& e) {
        try {
            Disconnect();
        } catch (const CPOP3Exception&) {
        }
        throw CPOP3Exception(CPOP3Exception::kFacilitySystem, static_cast<std::uint32_t>(e.error),
                             lastResponse);
    }
}

void CPOP3Connection::openSocket(const std::string& host, std::uint16_t port) {
    socket.close();
    lastResponse.clear();
    if (proxyType == 3) {
        connectThroughHttpProxy(host, port);
        return;
    }
    if (proxyType != 0)
        throw CWSocketException(EPROTONOSUPPORT, "SOCKS proxies are not supported");
    socket.connect(host, port, toUtf8(bindAddress));
}

void CPOP3Connection::connectThroughHttpProxy(const std::string& host, std::uint16_t port) {
    if (proxyPort <= 0 || proxyPort > 65535)
        throw CWSocketException(EINVAL, "proxy port");
    socket.connect(toUtf8(proxyServer), static_cast<std::uint16_t>(proxyPort), toUtf8(bindAddress));
    std::string request = "CONNECT " + host + ":" + std::to_string(port) + " HTTP/1.0\r\n";
    if (!proxyUserName.empty()) {
        std::string credentials = toUtf8(proxyUserName) + ":" + toUtf8(proxyPassword);
        request += "Proxy-authorization: Basic " + base64(credentials) + "\r\n";
        wipe(credentials);
    }
    if (!userAgent.empty())
        request += "User-Agent: " + toUtf8(userAgent) + "\r\n";
    request += "\r\n";
    socket.send(request.data(), request.size());
    wipe(request);

    // The header is read a byte at a time: whatever follows it is the POP3 server's.
    std::string header;
    while (header.find("\r\n\r\n") == std::string::npos) {
        if (header.size() > kMaxReply || !socket.waitReadable(timeout))
            throw CWSocketException(ETIMEDOUT, "HTTP proxy gave no complete answer");
        char byte = 0;
        if (socket.receive(&byte, 1) == 0)
            throw CWSocketException(ECONNRESET, "HTTP proxy closed the connection");
        header += byte;
    }
    // "HTTP/1.x 200 ..."
    const std::size_t blank = header.find(' ');
    if (header.compare(0, 5, "HTTP/") != 0 || blank == std::string::npos ||
        std::atoi(header.c_str() + blank) != 200) {
        throw CWSocketException(ECONNREFUSED,
                                "HTTP proxy refused: " + header.substr(0, header.find('\r')));
    }
}

void CPOP3Connection::startTls(const std::string& host) {
    std::string trusted = caFile;
    if (trusted.empty())
        if (const char* fromEnvironment = std::getenv("QX_MAIL_CA_FILE"))
            trusted = fromEnvironment;
    try {
        socket.startTls(host, trusted, timeout);
    } catch (const CWTlsException& e) {
        // Nothing more is said over a connection whose TLS failed: no QUIT in plain text.
        connected = false;
        socket.close();
        throw CPOP3Exception(CPOP3Exception::kFacilityClient,
                             e.certificate ? CPOP3Exception::kCertificate
                                           : CPOP3Exception::kTlsFailed,
                             fromUtf8(e.reason));
    }
}

void CPOP3Connection::upgradeIfOffered(const std::string& host) {
    sendCommand("CAPA\r\n");
    std::string capabilities;
    capabilities.reserve(1024);
    if (!ReadResponse(capabilities, "\r\n", false))
        throw CPOP3Exception(CPOP3Exception::kFacilityClient, CPOP3Exception::kLoginFailed,
                             lastResponse);
    // A server without CAPA answers "-ERR" in one line: it offers no TLS either.
    if (!beginsWithOk(capabilities))
        return;
    if (!ReadResponse(capabilities, "\r\n.\r\n", true))
        throw CPOP3Exception(CPOP3Exception::kFacilityClient, CPOP3Exception::kLoginFailed,
                             lastResponse);
    if (!offersStls(capabilities))
        return;
    sendCommand("STLS\r\n");
    if (!ReadCommandResponse())
        throw CPOP3Exception(CPOP3Exception::kFacilityClient, CPOP3Exception::kTlsFailed,
                             lastResponse);
    startTls(host);
}

void CPOP3Connection::login(const std::u16string& user, const std::u16string& password) {
    sendCommand("USER " + toUtf8(user) + "\r\n");
    if (!ReadCommandResponse())
        throw CPOP3Exception(CPOP3Exception::kFacilityClient, CPOP3Exception::kLoginFailed,
                             lastResponse);
    std::string plain = toUtf8(password);
    std::string line;
    line.reserve(plain.size() + 8);
    line += "PASS ";
    line += plain;
    line += "\r\n";
    wipe(plain);
    try {
        sendCommand(line);
    } catch (...) {
        wipe(line);
        throw;
    }
    wipe(line);
    if (!ReadCommandResponse())
        throw CPOP3Exception(CPOP3Exception::kFacilityClient, CPOP3Exception::kLoginFailed,
                             lastResponse);
}

void CPOP3Connection::sendCommand(std::string_view command) {
    socket.send(command.data(), command.size());
}

void CPOP3Connection::Noop() {
    try {
        sendCommand("NOOP\r\n");
    } catch (const CWSocketException& e) {
        throw CPOP3Exception(CPOP3Exception::kFacilitySystem, static_cast<std::uint32_t>(e.error),
                             lastResponse);
    }
    if (!ReadCommandResponse())
        throw CPOP3Exception(CPOP3Exception::kFacilityClient, CPOP3Exception::kNoopFailed,
                             lastResponse);
}

void CPOP3Connection::Statistics(int& count, int& size) {
    try {
        sendCommand("STAT\r\n");
    } catch (const CWSocketException& e) {
        throw CPOP3Exception(CPOP3Exception::kFacilitySystem, static_cast<std::uint32_t>(e.error),
                             lastResponse);
    }
    ReadStatResponse(count, size);
}

void CPOP3Connection::ReadStatResponse(int& count, int& size) {
    std::string reply;
    reply.reserve(128);
    if (!ReadResponse(reply, "\r\n", false) || !beginsWithOk(reply))
        throw CPOP3Exception(CPOP3Exception::kFacilityClient, CPOP3Exception::kStatFailed,
                             lastResponse);
    // A number starts after each blank or tab; a run of blanks counts once, and a field
    // without digits ("+OK mailbox ready") is no number.
    int found = 0;
    for (std::size_t i = 0; i < reply.size() && found < 2; ++i) {
        if (reply[i] != ' ' && reply[i] != '\t')
            continue;
        const char* from = reply.c_str() + i;
        char* end = nullptr;
        const long value = std::strtol(from, &end, 10);
        if (end == from)
            continue;
        (found == 0 ? count : size) = static_cast<int>(value);
        ++found;
        i = static_cast<std::size_t>(end - reply.c_str()) - 1;
    }
    if (found == 0)
        throw CPOP3Exception(CPOP3Exception::kFacilityClient, CPOP3Exception::kStatFailed,
                             lastResponse);
}

bool CPOP3Connection::ReadCommandResponse(std::string& reply) {
    reply.reserve(1024);
    return ReadResponse(reply, "\r\n", false) && beginsWithOk(reply);
}

bool CPOP3Connection::ReadCommandResponse() {
    std::string reply;
    return ReadCommandResponse(reply);
}

void CPOP3Connection::storeResponse(const std::string& reply, bool firstLineOnly) {
    lastResponse = fromUtf8(firstLineOnly ? reply.substr(0, reply.find('\r')) : reply);
}

bool CPOP3Connection::ReadResponse(std::string& reply, std::string_view terminator,
                                   bool firstLineOnly) {
    std::array<char, 4096> buffer{};
    while (reply.find(terminator) == std::string::npos) {
        if (reply.size() > kMaxReply) {
            lastResponse = fromUtf8(reply.substr(0, kShownOfOverlong));
            QXLog::warning(QXLog::kPlugins,
                           "mail: the POP3 server sent more than " + std::to_string(kMaxReply) +
                               " bytes without ending its reply; the reply is refused");
            return false;
        }
        try {
            if (!socket.waitReadable(timeout)) {
                storeResponse(reply, firstLineOnly);
                return false;
            }
            const std::size_t got = socket.receive(buffer.data(), buffer.size() - 1);
            if (got == 0) {
                storeResponse(reply, firstLineOnly);
                throw CPOP3Exception(CPOP3Exception::kFacilityClient, CPOP3Exception::kServerClosed,
                                     lastResponse);
            }
            reply.append(buffer.data(), got);
        } catch (const CWSocketException& e) {
            // A TLS record that did not complete in time is a time-out like any other.
            if (e.error == EAGAIN) {
                storeResponse(reply, firstLineOnly);
                return false;
            }
            throw CPOP3Exception(CPOP3Exception::kFacilitySystem,
                                 static_cast<std::uint32_t>(e.error), lastResponse);
        }
    }
    storeResponse(reply, firstLineOnly);
    return true;
}

void CPOP3Connection::Disconnect() {
    bool failed = false;
    std::uint32_t facility = 0;
    std::uint32_t code = 0;
    if (connected) {
        try {
            sendCommand("QUIT\r\n");
            if (!ReadCommandResponse()) {
                failed = true;
                facility = CPOP3Exception::kFacilityClient;
                code = CPOP3Exception::kQuitFailed;
            }
        } catch (const CWSocketException& e) {
            failed = true;
            facility = CPOP3Exception::kFacilitySystem;
            code = static_cast<std::uint32_t>(e.error);
        } catch (const CPOP3Exception& e) {
            failed = true;
            facility = e.facility();
            code = e.code();
        }
        connected = false;
    }
    socket.close();
    if (failed)
        throw CPOP3Exception(facility, code, lastResponse);
}
