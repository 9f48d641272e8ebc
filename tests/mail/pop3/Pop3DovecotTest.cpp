// The POP3 client against a real Dovecot started by the test on 127.0.0.1 with its own
// configuration, test users, Maildirs and a certificate from a CA the test makes.
#include "pop3/CPOP3Connection.h"
#include "support/QXTestSupport.h"

#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* kDovecot = "/usr/sbin/dovecot";
constexpr const char* kOpenssl = "/usr/bin/openssl";
constexpr const char* kSetpriv = "/usr/bin/setpriv";
constexpr int kMessages = 12;

std::uint16_t freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool accepts(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

std::u16string wide(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

template <typename Call> CPOP3Exception thrownBy(Call call) {
    try {
        call();
    } catch (const CPOP3Exception& e) {
        return e;
    }
    ADD_FAILURE() << "no CPOP3Exception was thrown";
    return CPOP3Exception(0, 0);
}

// A private Dovecot: users "qxtest" (12 messages) and "empty" (none). Dovecot refuses to
// serve mail as root, so a root test runs it as the "dovecot" system user.
class PrivateDovecot {
public:
    std::string skipReason;
    std::uint16_t plainPort = 0;
    std::uint16_t tlsPort = 0;
    qxtest::TempDir dir;

    fs::path caFile() const { return dir / "ca.pem"; }
    std::string log() const { return qxtest::readFile(dir / "dovecot.log"); }

    PrivateDovecot() {
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
        const uid_t uid = runAs->pw_uid;
        const gid_t gid = runAs->pw_gid;
        const group* grp = ::getgrgid(gid);
        const std::string groupName = grp ? grp->gr_name : user;
        const std::string d = dir.path().string();

        if (!makeCertificates()) {
            skipReason = "openssl could not make the test certificates";
            return;
        }
        for (const char* mailbox : {"qxtest", "empty"})
            for (const char* sub : {"new", "cur", "tmp"})
                fs::create_directories(dir / "mail" / mailbox / sub);
        for (int i = 1; i <= kMessages; ++i)
            qxtest::writeFile(dir / "mail/qxtest/new" / ("10" + std::to_string(i) + ".M1P1.qx"),
                              "From: sender@example.test\r\nSubject: message " + std::to_string(i) +
                                  "\r\n\r\nBody.\r\n");
        qxtest::writeFile(dir / "users", "qxtest:{PLAIN}s3cret::::::\n"
                                         "empty:{PLAIN}nothing::::::\n");
        fs::create_directories(dir / "run");
        plainPort = freePort();
        tlsPort = freePort();
        const std::string ids = "uid=" + std::to_string(uid) + " gid=" + std::to_string(gid);
        qxtest::writeFile(
            dir / "dovecot.conf",
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
            fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                            fs::perms::group_exec | fs::perms::others_read |
                                            fs::perms::others_exec);
            for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
                if (::chown(entry.path().c_str(), uid, gid) != 0)
                    ADD_FAILURE() << "cannot hand " << entry.path() << " to " << user;
            if (::chown(dir.path().c_str(), uid, gid) != 0)
                ADD_FAILURE() << "cannot hand the test folder to " << user;
            m_server = std::make_unique<qxtest::ChildProcess>(std::vector<std::string>{
                kSetpriv, "--reuid=" + std::to_string(uid), "--regid=" + std::to_string(gid),
                "--clear-groups", kDovecot, "-F", "-c", d + "/dovecot.conf"});
        } else {
            m_server = std::make_unique<qxtest::ChildProcess>(
                std::vector<std::string>{kDovecot, "-F", "-c", d + "/dovecot.conf"});
        }
        if (!qxtest::waitFor(
                [&] { return !m_server->running() || (accepts(plainPort) && accepts(tlsPort)); }) ||
            !m_server->running()) {
            skipReason = "Dovecot did not start; its log: " + log();
            m_server.reset();
        }
    }

private:
    // A CA and a server certificate for "localhost" only (no IP address in it).
    bool makeCertificates() {
        const std::string d = dir.path().string();
        qxtest::writeFile(dir / "ext.cnf", "subjectAltName=DNS:localhost\n"
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
            if (qxtest::runProgram(step).exitStatus != 0)
                return false;
        return true;
    }

    std::unique_ptr<qxtest::ChildProcess> m_server;
};

class DovecotPop3 : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_dovecot = new PrivateDovecot; }
    static void TearDownTestSuite() {
        delete s_dovecot;
        s_dovecot = nullptr;
    }
    void SetUp() override {
        if (!s_dovecot->skipReason.empty())
            GTEST_SKIP() << s_dovecot->skipReason;
    }

    std::u16string plain(const char* host = "localhost") const {
        return wide(std::string(host) + ":" + std::to_string(s_dovecot->plainPort));
    }
    std::u16string pop3s(const char* host = "localhost") const {
        return wide("pop3s://" + std::string(host) + ":" + std::to_string(s_dovecot->tlsPort));
    }
    // A connection that trusts the test CA, as the system's store would trust a real one.
    static void trustTestCa(CPOP3Connection& connection) {
        connection.caFile = s_dovecot->caFile().string();
        connection.timeout = 20000;
    }

    static std::size_t logins() {
        const std::string log = s_dovecot->log();
        std::size_t found = 0;
        for (std::size_t at = log.find("Login: user="); at != std::string::npos;
             at = log.find("Login: user=", at + 1))
            ++found;
        return found;
    }

    static PrivateDovecot* s_dovecot;
};
PrivateDovecot* DovecotPop3::s_dovecot = nullptr;

} // namespace

TEST_F(DovecotPop3, CountsMailboxesAfterAnStlsUpgradeAndOverPop3s) {
    const std::size_t loginsBefore = logins();
    CPOP3Connection connection;
    trustTestCa(connection);
    int count = -1, size = -1;

    connection.Connect(plain(), u"qxtest", u"s3cret");
    EXPECT_TRUE(connection.secure()) << "Dovecot offers STLS; the client must upgrade";
    connection.Noop();
    connection.Statistics(count, size);
    EXPECT_EQ(kMessages, count);
    EXPECT_GT(size, 0);
    connection.Disconnect();
    // Dovecot's log process writes the login line a moment after the login.
    EXPECT_TRUE(qxtest::waitFor([&] { return logins() == loginsBefore + 1; })) << s_dovecot->log();
    const std::string log = s_dovecot->log();
    const std::size_t login = log.rfind("Login: user=<qxtest>, method=PLAIN");
    ASSERT_NE(std::string::npos, login) << log;
    EXPECT_NE(std::string::npos, log.substr(login, log.find('\n', login) - login).find(", TLS,"))
        << "the login was over TLS; Dovecot's log:\n"
        << log;

    // The same object again, as the view reuses it: pop3s, then the empty mailbox.
    connection.Connect(pop3s(), u"qxtest", u"s3cret");
    EXPECT_TRUE(connection.secure());
    connection.Statistics(count, size);
    EXPECT_EQ(kMessages, count);
    connection.Disconnect();

    connection.Connect(plain(), u"empty", u"nothing");
    connection.Noop();
    connection.Statistics(count, size);
    EXPECT_EQ(0, count);
    EXPECT_EQ(0, size);
    connection.Disconnect();
    EXPECT_TRUE(qxtest::waitFor([&] { return logins() == loginsBefore + 3; })) << s_dovecot->log();
}

TEST_F(DovecotPop3, RefusesWrongPasswordsAndCertificatesThatDoNotVerify) {
    const std::size_t loginsBefore = logins();
    CPOP3Connection connection;
    trustTestCa(connection);

    const CPOP3Exception wrong =
        thrownBy([&] { connection.Connect(plain(), u"qxtest", u"wrong"); });
    EXPECT_EQ(0x80040206u, wrong.hr) << "a refused password is code 518";
    EXPECT_EQ(u"-ERR", wrong.response.substr(0, 4));
    EXPECT_FALSE(connection.connected);

    // The certificate names "localhost", not "127.0.0.1": refused on both paths to TLS.
    for (const std::u16string& server : {pop3s("127.0.0.1"), plain("127.0.0.1")}) {
        const CPOP3Exception e =
            thrownBy([&] { connection.Connect(server, u"qxtest", u"s3cret"); });
        EXPECT_EQ(CPOP3Exception::kCertificate, e.code());
        EXPECT_EQ(-1, connection.socket.socket);
    }
    // Without the test CA the certificate is untrusted.
    CPOP3Connection untrusting;
    untrusting.timeout = 20000;
    qxtest::ScopedEnv noOverride("QX_MAIL_CA_FILE", "");
    EXPECT_EQ(CPOP3Exception::kCertificate,
              thrownBy([&] { untrusting.Connect(pop3s(), u"qxtest", u"s3cret"); }).code());
    EXPECT_EQ(loginsBefore, logins()) << "a refused exchange never logged in:\n"
                                      << s_dovecot->log();
}
