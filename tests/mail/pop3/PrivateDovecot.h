#pragma once

#include "support/QXTestSupport.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace qxtest {

// A private Dovecot POP3 server on 127.0.0.1, on free ports, with its own configuration,
// users "qxtest" (12 messages, password "s3cret") and "empty" (none, password "nothing"),
// Maildirs and a certificate for "localhost" from a CA the test makes. Dovecot refuses to
// serve mail as root, so a root test runs it as the "dovecot" system user.
class PrivateDovecot {
public:
    static constexpr int kMessages = 12;

    PrivateDovecot();
    ~PrivateDovecot();
    PrivateDovecot(const PrivateDovecot&) = delete;
    PrivateDovecot& operator=(const PrivateDovecot&) = delete;

    // Empty when the server runs; otherwise why the tests using it skip.
    std::string skipReason;
    std::uint16_t plainPort = 0;
    std::uint16_t tlsPort = 0;

    std::filesystem::path caFile() const { return m_dir / "ca.pem"; }
    std::string log() const { return readFile(m_dir / "dovecot.log"); }
    // Puts a new message into a user's Maildir, as a delivery would.
    void deliver(const std::string& user, const std::string& subject);

private:
    bool makeCertificates();

    TempDir m_dir;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
    std::unique_ptr<ChildProcess> m_server;
};

} // namespace qxtest
