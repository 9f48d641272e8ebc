#pragma once

#include "CWSocketException.h"

#include <cstddef>
#include <cstdint>
#include <string>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

// A blocking stream socket, optionally carrying TLS (OpenSSL) once startTls() has run.
// Every failure throws CWSocketException, a failed TLS set-up CWTlsException. Not
// thread-safe: one thread uses one socket. Writes never raise SIGPIPE in the process.
class CWSocket {
public:
    CWSocket() = default;
    virtual ~CWSocket();
    CWSocket(const CWSocket&) = delete;
    CWSocket& operator=(const CWSocket&) = delete;

    // Resolves `host` (dotted digits or an IPv6 literal are never looked up by name) and
    // connects to the first address that answers, after binding to `bindAddress` when it
    // is not empty. A bind address that does not resolve gives EINVAL, a host that does not
    // resolve EHOSTUNREACH with the resolver's text. The connect has no time-out of its own
    // beyond the system's.
    void connect(const std::string& host, std::uint16_t port, const std::string& bindAddress);

    // Sends all of `size` bytes (through TLS when it is on).
    void send(const char* data, std::size_t size);

    // Waits at most `timeoutMs` for data to read; false on time-out.
    bool waitReadable(std::uint32_t timeoutMs);

    // Reads at most `size` bytes; 0 when the peer closed the connection. A TLS read that
    // could not complete a record within the time-out given to startTls throws EAGAIN.
    std::size_t receive(char* buffer, std::size_t size);

    // Runs a TLS client handshake on the connected socket. The server's certificate must
    // chain to the system's certificate store (or to the certificates in `caFile` when it
    // is not empty) and name `host` (a DNS name, or an IP address for a literal); anything
    // else throws CWTlsException and leaves the socket without TLS. `timeoutMs` bounds
    // every wait inside TLS reads and writes.
    void startTls(const std::string& host, const std::string& caFile, std::uint32_t timeoutMs);
    bool secure() const { return m_ssl != nullptr; }

    // Closes the handle (after a TLS close notice when TLS is on) and sets it back to -1.
    void close();

    int socket = -1; // the handle, -1 when none is open

private:
    void endTls();

    SSL_CTX* m_context = nullptr;
    SSL* m_ssl = nullptr;
};
