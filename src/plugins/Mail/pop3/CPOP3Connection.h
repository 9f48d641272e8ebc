#pragma once

#include "CPOP3Exception.h"
#include "CWSocket.h"

#include <cstdint>
#include <string>
#include <string_view>

// The small POP3 client the mail counter needs: log in, NOOP, STAT, QUIT. Synchronous and
// blocking; one object belongs to one view and is used by that view's worker thread only,
// reused for every poll (Connect, Noop, Statistics, Disconnect).
//
// Every failure is a CPOP3Exception. Texts are UTF-16 in memory and UTF-8 on the wire.
// TLS: "pop3s://" servers speak TLS from the first byte; on a plain connection the client
// asks for the server's capabilities and, when STLS is among them, upgrades before the
// user name is sent, so the password never crosses the network in plain text when the
// server offers TLS. A certificate that does not verify ends the exchange (code 522); there
// is no fallback to plain text.
class CPOP3Connection {
public:
    CPOP3Connection() = default;
    // Disconnects when connected, swallowing whatever that throws.
    virtual ~CPOP3Connection();
    CPOP3Connection(const CPOP3Connection&) = delete;
    CPOP3Connection& operator=(const CPOP3Connection&) = delete;

    // Connects to `server` ("host", "host:port" or "pop3s://host[:port]"), reads the
    // greeting, upgrades to TLS when offered and logs in. On any failure the connection is
    // closed before the exception leaves. The plain password and the "PASS" line are wiped
    // from the client's buffers once sent.
    void Connect(const std::u16string& server, const std::u16string& user,
                 const std::u16string& password);
    void Noop();
    void Statistics(int& count, int& size);
    // Sends QUIT when connected and closes the socket; throws (519, or facility 7) only
    // after the socket is closed.
    void Disconnect();

    virtual void ReadStatResponse(int& count, int& size);
    virtual bool ReadCommandResponse(std::string& reply);
    virtual bool ReadCommandResponse();
    // Reads until `terminator` is in `reply`, each wait bounded by `timeout`. False on a
    // time-out (lastResponse holds the partial text) and for a reply that grows past
    // kMaxReply without its terminator (lastResponse holds its first bytes).
    virtual bool ReadResponse(std::string& reply, std::string_view terminator, bool firstLineOnly);

    bool secure() const { return socket.secure(); }

    // The longest reply the client accepts; a server that sends more without a line end
    // is misbehaving, not a mailbox to count.
    static constexpr std::size_t kMaxReply = 64 * 1024;
    // What of an overlong reply is kept for the error.
    static constexpr std::size_t kShownOfOverlong = 512;

    bool connected = false;
    CWSocket socket;
    std::u16string lastResponse;
    std::uint32_t timeout = 60000; // milliseconds, for every wait for reply data
    int proxyType = 0;             // 0 none, 3 HTTP CONNECT; SOCKS (1, 2) is not provided
    std::u16string proxyServer;
    int proxyPort = 1080;
    std::u16string bindAddress; // empty: any local address
    std::u16string proxyUserName;
    std::u16string proxyPassword;
    std::u16string userAgent;
    // Certificates trusted besides the system's store (PEM, UTF-8 path); when empty, the
    // environment variable QX_MAIL_CA_FILE is used if set. Meant for tests with their own CA.
    std::string caFile;

private:
    void openSocket(const std::string& host, std::uint16_t port);
    void connectThroughHttpProxy(const std::string& host, std::uint16_t port);
    void sendCommand(std::string_view command);
    void upgradeIfOffered(const std::string& host);
    void startTls(const std::string& host);
    void login(const std::u16string& user, const std::u16string& password);
    void storeResponse(const std::string& reply, bool firstLineOnly);
};
