// The POP3 client against a real Dovecot started by the test on 127.0.0.1 with its own
// configuration, test users, Maildirs and a certificate from a CA the test makes.
#include "PrivateDovecot.h"
#include "Pop3TestSupport.h"
#include "pop3/CPOP3Connection.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using qxtest::PrivateDovecot;

std::u16string wide(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

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
    EXPECT_EQ(PrivateDovecot::kMessages, count);
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
    EXPECT_EQ(PrivateDovecot::kMessages, count);
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
