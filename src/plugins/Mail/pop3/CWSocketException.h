#pragma once

#include <exception>
#include <string>

// A socket-level failure (create, resolve, bind, connect, send, wait, receive). `error` is
// the errno value; message() is the system's text for it, followed by `detail` when the
// failure has more to say (the resolver's own text for a host that does not resolve).
class CWSocketException : public std::exception {
public:
    explicit CWSocketException(int errorCode, std::string detailText = {});

    std::string message() const;
    const char* what() const noexcept override { return m_what.c_str(); }

    int error = 0;
    std::string detail;

private:
    std::string m_what;
};

// A TLS session could not be set up. `certificate` is true when the handshake failed
// because the server's certificate did not verify (untrusted, expired, issued for another
// host name); `reason` says why in OpenSSL's words.
class CWTlsException : public std::exception {
public:
    CWTlsException(bool certificateFailed, std::string why)
        : certificate(certificateFailed), reason(std::move(why)) {}
    const char* what() const noexcept override { return reason.c_str(); }

    bool certificate = false;
    std::string reason;
};
