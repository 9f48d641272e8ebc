// The POP3 client's stream socket: POSIX sockets, with OpenSSL on top once TLS is on.
#include "CWSocket.h"

#include "platform/QXLog.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <netdb.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

std::string systemText(int error) {
    char buffer[256] = {};
    // The GNU strerror_r returns its text, which need not be in the buffer.
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return text ? std::string(text) : std::string();
}

std::string buildWhat(int error, const std::string& detail) {
    std::string text = systemText(error);
    if (!detail.empty())
        text += ": " + detail;
    return text;
}

// OpenSSL writes to the socket with write(), which raises SIGPIPE when the server has
// gone. The library must not change the process's signal handling, so the calling thread
// blocks SIGPIPE for the duration and takes back a SIGPIPE it caused.
class SigpipeBlock {
public:
    SigpipeBlock() {
        sigset_t pipeOnly;
        sigemptyset(&pipeOnly);
        sigaddset(&pipeOnly, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        m_wasPending = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeOnly, &m_old);
    }
    ~SigpipeBlock() {
        if (!m_wasPending) {
            sigset_t pipeOnly;
            sigemptyset(&pipeOnly);
            sigaddset(&pipeOnly, SIGPIPE);
            const timespec zero{0, 0};
            while (sigtimedwait(&pipeOnly, nullptr, &zero) == SIGPIPE) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }
    SigpipeBlock(const SigpipeBlock&) = delete;
    SigpipeBlock& operator=(const SigpipeBlock&) = delete;

private:
    sigset_t m_old{};
    bool m_wasPending = false;
};

struct AddressList {
    addrinfo* head = nullptr;
    ~AddressList() {
        if (head)
            freeaddrinfo(head);
    }
};

// Dotted digits and IPv6 literals are taken as they are; only other text goes to the
// resolver. 0 on success, else getaddrinfo's code.
int resolve(const std::string& host, std::uint16_t port, AddressList& list) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    const std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &list.head) == 0)
        return 0;
    hints.ai_flags = AI_NUMERICSERV;
    return getaddrinfo(host.c_str(), service.c_str(), &hints, &list.head);
}

bool isIpLiteral(const std::string& host) {
    unsigned char address[16];
    return inet_pton(AF_INET, host.c_str(), address) == 1 ||
           inet_pton(AF_INET6, host.c_str(), address) == 1;
}

std::string openSslErrors() {
    std::string text;
    while (unsigned long code = ERR_get_error()) {
        char line[256];
        ERR_error_string_n(code, line, sizeof line);
        if (!text.empty())
            text += "; ";
        text += line;
    }
    return text;
}

} // namespace

CWSocketException::CWSocketException(int errorCode, std::string detailText)
    : error(errorCode), detail(std::move(detailText)), m_what(buildWhat(error, detail)) {}

std::string CWSocketException::message() const {
    return m_what;
}

CWSocket::~CWSocket() {
    close();
}

void CWSocket::connect(const std::string& host, std::uint16_t port,
                       const std::string& bindAddress) {
    close();
    AddressList targets;
    if (int code = resolve(host, port, targets); code != 0)
        throw CWSocketException(EHOSTUNREACH, host + ": " + gai_strerror(code));

    AddressList local;
    if (!bindAddress.empty() && resolve(bindAddress, 0, local) != 0)
        throw CWSocketException(EINVAL, "bind address " + bindAddress);

    int lastError = ECONNREFUSED;
    for (addrinfo* target = targets.head; target; target = target->ai_next) {
        int handle =
            ::socket(target->ai_family, target->ai_socktype | SOCK_CLOEXEC, target->ai_protocol);
        if (handle < 0) {
            lastError = errno;
            continue;
        }
        bool bound = true;
        if (local.head) {
            bound = false;
            for (addrinfo* own = local.head; own && !bound; own = own->ai_next)
                bound = own->ai_family == target->ai_family &&
                        ::bind(handle, own->ai_addr, own->ai_addrlen) == 0;
            if (!bound)
                lastError = errno ? errno : EINVAL;
        }
        if (bound && ::connect(handle, target->ai_addr, target->ai_addrlen) == 0) {
            socket = handle;
            return;
        }
        if (bound)
            lastError = errno;
        ::close(handle);
    }
    throw CWSocketException(lastError);
}

void CWSocket::send(const char* data, std::size_t size) {
    if (socket < 0)
        throw CWSocketException(ENOTCONN);
    std::size_t sent = 0;
    while (sent < size) {
        if (m_ssl) {
            SigpipeBlock quiet;
            size_t written = 0;
            if (SSL_write_ex(m_ssl, data + sent, size - sent, &written) != 1) {
                const int error = errno ? errno : EPIPE;
                ERR_clear_error();
                throw CWSocketException(error, "TLS write");
            }
            sent += written;
        } else {
            const ssize_t written = ::send(socket, data + sent, size - sent, MSG_NOSIGNAL);
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                throw CWSocketException(errno);
            }
            sent += static_cast<std::size_t>(written);
        }
    }
}

bool CWSocket::waitReadable(std::uint32_t timeoutMs) {
    if (socket < 0)
        throw CWSocketException(ENOTCONN);
    if (m_ssl && SSL_pending(m_ssl) > 0)
        return true;
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long long elapsed =
            (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000;
        const long long left = static_cast<long long>(timeoutMs) - elapsed;
        pollfd entry{socket, POLLIN, 0};
        const int ready = ::poll(&entry, 1, left > 0 ? static_cast<int>(left) : 0);
        if (ready > 0)
            return true;
        if (ready == 0)
            return false;
        if (errno != EINTR)
            throw CWSocketException(errno);
    }
}

std::size_t CWSocket::receive(char* buffer, std::size_t size) {
    if (socket < 0)
        throw CWSocketException(ENOTCONN);
    if (m_ssl) {
        std::size_t got = 0;
        errno = 0;
        if (SSL_read_ex(m_ssl, buffer, size, &got) == 1)
            return got;
        const int reason = SSL_get_error(m_ssl, 0);
        const int error = errno;
        ERR_clear_error();
        if (reason == SSL_ERROR_ZERO_RETURN)
            return 0;
        if (reason == SSL_ERROR_WANT_READ || error == EAGAIN || error == EWOULDBLOCK)
            throw CWSocketException(EAGAIN, "TLS read");
        // A peer that drops the connection without a TLS close notice is a close too.
        if (reason == SSL_ERROR_SYSCALL && error == 0)
            return 0;
        throw CWSocketException(error ? error : ECONNRESET, "TLS read");
    }
    for (;;) {
        const ssize_t got = ::recv(socket, buffer, size, 0);
        if (got >= 0)
            return static_cast<std::size_t>(got);
        if (errno != EINTR)
            throw CWSocketException(errno);
    }
}

void CWSocket::startTls(const std::string& host, const std::string& caFile,
                        std::uint32_t timeoutMs) {
    if (socket < 0)
        throw CWSocketException(ENOTCONN);
    endTls();
    // Blocking TLS reads and writes wait inside OpenSSL; these bound each of those waits.
    // A zero time-out would mean "wait for ever" to the socket options.
    timeoutMs = timeoutMs == 0 ? 1 : timeoutMs;
    timeval limit{static_cast<time_t>(timeoutMs / 1000),
                  static_cast<suseconds_t>((timeoutMs % 1000) * 1000)};
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);

    ERR_clear_error();
    m_context = SSL_CTX_new(TLS_client_method());
    if (!m_context)
        throw CWTlsException(false, "no TLS context: " + openSslErrors());
    SSL_CTX_set_min_proto_version(m_context, TLS1_2_VERSION);
    SSL_CTX_set_verify(m_context, SSL_VERIFY_PEER, nullptr);
    if (SSL_CTX_set_default_verify_paths(m_context) != 1)
        ERR_clear_error();
    if (!caFile.empty() && SSL_CTX_load_verify_locations(m_context, caFile.c_str(), nullptr) != 1) {
        const std::string why = "cannot read certificates from " + caFile + ": " + openSslErrors();
        endTls();
        throw CWTlsException(false, why);
    }
    m_ssl = SSL_new(m_context);
    bool named = m_ssl && SSL_set_fd(m_ssl, socket) == 1;
    if (named && isIpLiteral(host)) {
        named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), host.c_str()) == 1;
    } else if (named) {
        named = SSL_set1_host(m_ssl, host.c_str()) == 1 &&
                SSL_set_tlsext_host_name(m_ssl, host.c_str()) == 1;
    }
    if (!named) {
        const std::string why = "cannot set up TLS for " + host + ": " + openSslErrors();
        endTls();
        throw CWTlsException(false, why);
    }

    int result = 0;
    {
        SigpipeBlock quiet;
        result = SSL_connect(m_ssl);
    }
    if (result == 1)
        return;
    const long verified = SSL_get_verify_result(m_ssl);
    std::string why;
    bool certificate = false;
    if (verified != X509_V_OK) {
        certificate = true;
        why = std::string("certificate of ") + host +
              " refused: " + X509_verify_cert_error_string(verified);
    } else {
        const int error = errno;
        why = "TLS handshake with " + host + " failed";
        const std::string details = openSslErrors();
        if (!details.empty())
            why += ": " + details;
        else if (error)
            why += ": " + systemText(error);
    }
    ERR_clear_error();
    // The failed session's state is of no use; the socket stays open without TLS.
    SSL_free(m_ssl);
    m_ssl = nullptr;
    SSL_CTX_free(m_context);
    m_context = nullptr;
    QXLog::warning(QXLog::kPlugins, "mail: " + why);
    throw CWTlsException(certificate, why);
}

void CWSocket::endTls() {
    if (m_ssl) {
        SigpipeBlock quiet;
        // A close notice only; the server's answer to it is not awaited.
        SSL_shutdown(m_ssl);
        SSL_free(m_ssl);
        m_ssl = nullptr;
        ERR_clear_error();
    }
    if (m_context) {
        SSL_CTX_free(m_context);
        m_context = nullptr;
    }
}

void CWSocket::close() {
    endTls();
    if (socket >= 0) {
        ::close(socket);
        socket = -1;
    }
}
