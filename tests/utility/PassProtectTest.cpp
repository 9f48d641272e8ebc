#include "platform/QXText.h"
#include "support/QXTestSupport.h"
#include "utility/utility.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// Callers hand in zeroed buffers; these start dirty so that "" on failure is seen.
constexpr int kProtectCapacity = 512;
constexpr int kUnprotectCapacity = 256;

class PassProtectTest : public ::testing::Test {
protected:
    static std::optional<std::u16string> protect(std::u16string_view plain,
                                                 int capacity = kProtectCapacity) {
        std::u16string buffer(kProtectCapacity, u'#');
        int result = PassProtect(std::u16string(plain).c_str(), buffer.data(), capacity);
        EXPECT_EQ(buffer[0] == 0, result == 0 || plain.empty()) << "result " << result;
        if (!result)
            return std::nullopt;
        return std::u16string(buffer.c_str());
    }

    static std::optional<std::u16string> unprotect(std::u16string_view text,
                                                   int capacity = kUnprotectCapacity) {
        std::u16string buffer(kUnprotectCapacity, u'#');
        int result = PassUnprotect(std::u16string(text).c_str(), buffer.data(), capacity);
        if (!result) {
            EXPECT_EQ(buffer[0], 0) << "a failed call must leave an empty text";
            return std::nullopt;
        }
        return std::u16string(buffer.c_str());
    }

    fs::path keyFile(const char* data = "data") const {
        return m_dir / data / "TesseraQuadrix" / "key";
    }

    qxtest::TempDir m_dir;
    qxtest::ScopedEnv m_dataHome{"XDG_DATA_HOME", (m_dir / "data").string()};
};

TEST_F(PassProtectTest, RoundTripKeepsAnyPassword) {
    for (std::u16string plain : {u"secret", u"pässwörd 密码 🔑", u"é", u"  spaces  "}) {
        auto sealed = protect(plain);
        ASSERT_TRUE(sealed);
        for (char16_t c : *sealed)
            ASSERT_LT(c, 0x80) << "the protected form must be ASCII";
        EXPECT_EQ(sealed->find(plain), std::u16string::npos);
        EXPECT_EQ(unprotect(*sealed), plain);
    }
}

TEST_F(PassProtectTest, EachProtectionIsDifferent) {
    EXPECT_NE(protect(u"same"), protect(u"same"));
}

TEST_F(PassProtectTest, EmptyPasswordStaysEmptyAndNeedsNoKey) {
    EXPECT_EQ(protect(u""), u"");
    EXPECT_EQ(unprotect(u""), u"");
    EXPECT_FALSE(fs::exists(keyFile()));
}

TEST_F(PassProtectTest, KeyIsCreatedPrivateOnFirstUseAndThenKept) {
    ASSERT_FALSE(fs::exists(keyFile()));
    ASSERT_TRUE(protect(u"first"));
    struct stat key {};
    struct stat folder {};
    ASSERT_EQ(::stat(keyFile().c_str(), &key), 0);
    ASSERT_EQ(::stat(keyFile().parent_path().c_str(), &folder), 0);
    EXPECT_EQ(key.st_size, 32);
    EXPECT_EQ(key.st_mode & 0777, 0600u);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);

    std::string bytes = qxtest::readFile(keyFile());
    ASSERT_TRUE(protect(u"second"));
    EXPECT_EQ(qxtest::readFile(keyFile()), bytes);
    EXPECT_EQ(fs::directory_iterator(keyFile().parent_path())->path(), keyFile())
        << "no temporary file may stay beside the key";
}

TEST_F(PassProtectTest, ExistingKeyIsUsedAndNeverReplaced) {
    const std::string own(32, '\x5a');
    qxtest::writeFile(keyFile(), own);
    auto sealed = protect(u"with my key");
    ASSERT_TRUE(sealed);
    EXPECT_EQ(unprotect(*sealed), u"with my key");
    EXPECT_EQ(qxtest::readFile(keyFile()), own);
}

TEST_F(PassProtectTest, KeyOfTheWrongSizeIsAFailureNotReplaced) {
    qxtest::writeFile(keyFile(), std::string(16, 'k'));
    EXPECT_FALSE(protect(u"secret"));
    EXPECT_EQ(qxtest::readFile(keyFile()), std::string(16, 'k'));
}

TEST_F(PassProtectTest, EveryAlteredCharacterIsDetected) {
    auto sealed = protect(u"secret");
    ASSERT_TRUE(sealed);
    for (size_t i = 0; i < sealed->size(); ++i) {
        std::u16string altered = *sealed;
        altered[i] = altered[i] == u'A' ? u'B' : u'A';
        EXPECT_FALSE(unprotect(altered)) << "character " << i << " was changed";
    }
}

TEST_F(PassProtectTest, TextMadeWithAnotherKeyIsRefused) {
    auto sealed = protect(u"secret");
    ASSERT_TRUE(sealed);
    qxtest::ScopedEnv otherUser("XDG_DATA_HOME", (m_dir / "other").string());
    EXPECT_FALSE(unprotect(*sealed));
    EXPECT_FALSE(fs::exists(keyFile("other"))) << "reading must not create a key";
    ASSERT_TRUE(protect(u"other"));
    EXPECT_NE(qxtest::readFile(keyFile("other")), qxtest::readFile(keyFile()));
}

TEST_F(PassProtectTest, MalformedTextIsRefused) {
    ASSERT_TRUE(protect(u"make a key"));
    for (std::u16string text : {u"not base64!", u"QUJD", u"QUJD====", u"é5Zm9vYmFy"})
        EXPECT_FALSE(unprotect(text)) << toUtf8(text);
}

TEST_F(PassProtectTest, ResultMustFitTheBuffer) {
    auto sealed = protect(u"abcdef");
    ASSERT_TRUE(sealed);
    auto length = static_cast<int>(sealed->size());
    EXPECT_FALSE(protect(u"abcdef", length));
    EXPECT_TRUE(protect(u"abcdef", length + 1));
    EXPECT_FALSE(unprotect(*sealed, 6));
    EXPECT_EQ(unprotect(*sealed, 7), u"abcdef");
}

} // namespace
