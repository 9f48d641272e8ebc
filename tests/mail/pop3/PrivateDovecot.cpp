#include "PrivateDovecot.h"

#include <arpa/inet.h>
#include <fstream>
#include <grp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace qxtest {

namespace {

constexpr const char* kDovecot = "/usr/sbin/dovecot";
constexpr const char* kOpenssl = "/usr/bin/openssl";
constexpr const char* kSetpriv = "/usr/bin/setpriv";

} // namespace

PrivateDovecot::PrivateDovecot() {
    if (!fs::exists(kDovecot) || !fs::exists(kOpenssl)) {
        skipReason = "Dovecot or openssl is not installed (dovecot-core dovecot-pop3d, "
                     "see scripts/setup-debian.sh)";
        return;
    }
    const passwd* runAs = ::getuid() == 0 ? ::getpwnam("dovecot") : ::getpwuid(::getuid());
    if (!runAs || (::getuid() == 0 && !fs::exists(kSetpriv))) {
        skipReason = "no non-root user to run Dovecot as";
        return;
    }
    const std::string user = runAs->pw_name;
    const uid_t uid = m_uid = runAs->pw_uid;
    const gid_t gid = m_gid = runAs->pw_gid;
    const group* grp = ::getgrgid(gid);
    const std::string groupName = grp ? grp->gr_name : user;
    const std::string d = m_dir.path().string();

    if (!makeCertificates()) {
        skipReason = "openssl could not make the test certificates";
        return;
    }
    for (const char* mailbox : {"qxtest", "empty"})
        for (const char* sub : {"new", "cur", "tmp"})
            fs::create_directories(m_dir / "mail" / mailbox / sub);
    for (int i = 1; i <= kMessages; ++i)
        writeFile(m_dir / "mail/qxtest/new" / ("10" + std::to_string(i) + ".M1P1.qx"),
                          "From: sender@example.test\r\nSubject: message " + std::to_string(i) +
                              "\r\n\r\nBody.\r\n");
    writeFile(m_dir / "users", "qxtest:{PLAIN}s3cret::::::\n"
                                     "empty:{PLAIN}nothing::::::\n");
    fs::create_directories(m_dir / "run");
    plainPort = freeLoopbackPort();
    tlsPort = freeLoopbackPort();
    const std::string ids = "uid=" + std::to_string(uid) + " gid=" + std::to_string(gid);
    writeFile(
        m_dir / "dovecot.conf",
        "base_dir = " + d + "/run\n" + "state_dir = " + d + "/state\n" + "log_path = " + d +
            "/dovecot.log\n" + "protocols = pop3\nlisten = 127.0.0.1\n" +
            "ssl = yes\nssl_cert = <" + d + "/server.pem\nssl_key = <" + d +
            "/server.key\nssl_min_protocol = TLSv1.2\n" +
            "auth_mechanisms = plain\nauth_failure_delay = 0\n" +
            "default_internal_user = " + user + "\ndefault_internal_group = " + groupName +
            "\ndefault_login_user = " + user + "\nfirst_valid_uid = " + std::to_string(uid) +
            "\nfirst_valid_gid = " + std::to_string(gid) + "\n" +
            "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN username_format=%u " + d +
            "/users\n}\n" + "userdb {\n  driver = static\n  args = " + ids + " home=" + d +
            "/mail/%u\n}\n" + "mail_location = maildir:" + d + "/mail/%u\n" +
            "service pop3-login {\n  chroot =\n  inet_listener pop3 {\n    port = " +
            std::to_string(plainPort) +
            "\n  }\n  inet_listener pop3s {\n    port = " + std::to_string(tlsPort) +
            "\n    ssl = yes\n  }\n}\n" + "service anvil {\n  chroot =\n}\n" +
            "service auth-worker {\n  user = " + user + "\n}\n");
    if (::getuid() == 0) {
        fs::permissions(m_dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read |
                                        fs::perms::others_exec);
        for (const auto& entry : fs::recursive_directory_iterator(m_dir.path()))
            if (::chown(entry.path().c_str(), uid, gid) != 0)
                ADD_FAILURE() << "cannot hand " << entry.path() << " to " << user;
        if (::chown(m_dir.path().c_str(), uid, gid) != 0)
            ADD_FAILURE() << "cannot hand the test folder to " << user;
        m_server = std::make_unique<ChildProcess>(std::vector<std::string>{
            kSetpriv, "--reuid=" + std::to_string(uid), "--regid=" + std::to_string(gid),
            "--clear-groups", kDovecot, "-F", "-c", d + "/dovecot.conf"});
    } else {
        m_server = std::make_unique<ChildProcess>(
            std::vector<std::string>{kDovecot, "-F", "-c", d + "/dovecot.conf"});
    }
    if (!waitFor(
            [&] { return !m_server->running() || (acceptsOnLoopback(plainPort) && acceptsOnLoopback(tlsPort)); }) ||
        !m_server->running()) {
        skipReason = "Dovecot did not start; its log: " + log();
        m_server.reset();
    }
}

PrivateDovecot::~PrivateDovecot() = default;

void PrivateDovecot::deliver(const std::string& user, const std::string& subject) {
    // Written aside and renamed into "new", as a delivery agent does, so the server never
    // sees half a message; owned by the user the server runs as.
    static int delivered = 0;
    const std::string name = "20" + std::to_string(++delivered) + ".M1P2.qx";
    const fs::path tmp = m_dir / "mail" / user / "tmp" / name;
    writeFile(tmp, "From: sender@example.test\r\nSubject: " + subject + "\r\n\r\nBody.\r\n");
    if (::getuid() == 0 && ::chown(tmp.c_str(), m_uid, m_gid) != 0)
        ADD_FAILURE() << "cannot hand " << tmp << " to the server's user";
    fs::rename(tmp, m_dir / "mail" / user / "new" / name);
}

// A CA and a server certificate for "localhost" only (no IP address in it).
bool PrivateDovecot::makeCertificates() {
    const std::string d = m_dir.path().string();
    writeFile(m_dir / "ext.cnf", "subjectAltName=DNS:localhost\n"
                                       "basicConstraints=CA:FALSE\n"
                                       "extendedKeyUsage=serverAuth\n");
    const std::vector<std::vector<std::string>> steps = {
        {kOpenssl, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
         "-nodes", "-keyout", d + "/ca.key", "-out", d + "/ca.pem", "-days", "2", "-subj",
         "/CN=QX Test CA"},
        {kOpenssl, "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-keyout", d + "/server.key", "-out", d + "/server.csr", "-subj", "/CN=localhost"},
        {kOpenssl, "x509", "-req", "-in", d + "/server.csr", "-CA", d + "/ca.pem", "-CAkey",
         d + "/ca.key", "-CAcreateserial", "-out", d + "/server.pem", "-days", "2", "-extfile",
         d + "/ext.cnf"}};
    for (const auto& step : steps)
        if (runProgram(step).exitStatus != 0)
            return false;
    return true;
}

} // namespace qxtest
