// What the update server sends, read byte by byte. Texts are handed over in buffers of
// exactly their size, so a read past the end is caught by the address sanitizer.
#include "support/QXTestSupport.h"
#include "update/QXFirmwareUpdateController.h"

#include <gtest/gtest.h>

namespace {

using Controller = QXFirmwareUpdateController;
using Entries = std::vector<Controller::FirmwareEntry>;

// A copy of the text with nothing after its last byte.
struct Exact {
    explicit Exact(std::string_view text) : bytes(text.begin(), text.end()) {}
    operator std::string_view() const { return {bytes.data(), bytes.size()}; }
    operator std::span<const uint8_t>() const {
        return {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
    }
    std::vector<char> bytes;
};

// "TQ113_", six free bytes, payload length, checksum, payload.
Exact image(const std::string& payload, int64_t claimedLength = -1, uint32_t checksumError = 0) {
    std::string bytes = "TQ113_abcdef" + std::string(8, '\0') + payload;
    uint32_t sum = checksumError;
    for (unsigned char b : payload)
        sum += 255u - b;
    const auto length = static_cast<uint32_t>(claimedLength < 0 ? payload.size() : claimedLength);
    for (int i = 0; i < 4; ++i) {
        bytes[12 + i] = static_cast<char>(length >> (8 * i));
        bytes[16 + i] = static_cast<char>(sum >> (8 * i));
    }
    return Exact(bytes);
}

TEST(UpdateFormats, VersionTextIsTheFirstNumberWithAPointAndItsSuffix) {
    EXPECT_EQ(Controller::versionText(Exact("TesseraV0.60b")), u"0.60b");
    EXPECT_EQ(Controller::versionText(Exact("v12 then 1.2_rc3 and 4.5")), u"1.2_rc3");
    EXPECT_EQ(Controller::versionText(Exact("Tessera 7.")), u"");
    EXPECT_EQ(Controller::versionText(Exact(std::string("\0 0.61", 6))), u"0.61");
}

TEST(UpdateFormats, TheFirmwareListEndsAtItsFirstMalformedLineKeepingEarlierEntries) {
    const auto parse = [](std::string_view text) {
        return Controller::parseFirmwareList(Exact(text), u"0.76b");
    };
    const Entries two{{u"0.76b", u"upgrade.bin"}, {u"0.70", u"a.bin"}, {u"", u"b.bin"}};
    EXPECT_EQ(parse("Latest 0.76b\r\nOld 0.70\ta.bin\r\n\tb.bin\r\n"), two);
    EXPECT_EQ(parse("0.76b\r\n0.70\ta.bin\r\n\tb.bin\r\n0.62b c.bin\r\n0.61\td.bin\r\n"), two)
        << "a line without a tab";
    EXPECT_EQ(parse("0.76b\r\n0.70\ta.bin\r\n\tb.bin\r\n0.62b\tc.bin"), two)
        << "a last line without a line feed";
    EXPECT_EQ(parse("0.76b\r\n0.70\ta.bin\r\n\tb.bin\r\n0.62b\n\tc.bin\r\n"), two)
        << "a tab on the next line does not count for this one";
    EXPECT_EQ(parse("0.76b"), (Entries{{u"0.76b", u"upgrade.bin"}}));
    EXPECT_EQ(parse("0.76b\n0.70\t\n"), (Entries{{u"0.76b", u"upgrade.bin"}, {u"0.70", u""}}))
        << "nothing is taken from before the tab";
}

TEST(UpdateFormats, TheProgramListGivesVersionAndInstallerName) {
    EXPECT_EQ(Controller::parseProgramList(Exact("1.2.0\tTQ-1.2.0.deb\r\n")),
              (Controller::FirmwareEntry{u"1.2.0", u"TQ-1.2.0.deb"}));
    EXPECT_EQ(Controller::parseProgramList(Exact("1.2.0\tTQ.deb\tmore")).fileName, u"TQ.deb");
    EXPECT_EQ(Controller::parseProgramList(Exact("1.2.0 TQ.deb\r\n")), Controller::FirmwareEntry{});
    EXPECT_EQ(Controller::parseProgramList(Exact("1.2.0\t")), Controller::FirmwareEntry{});
}

TEST(UpdateFormats, AnImageNeedsItsHeaderAndAChecksumOverAPayloadInsideTheDownload) {
    const std::string payload("\x00\x01\xFE\xFF payload", 12);
    EXPECT_TRUE(Controller::imageLooksRight(image(payload)));
    EXPECT_TRUE(Controller::imageLooksRight(image("x")));
    EXPECT_FALSE(Controller::imageLooksRight(image(payload, -1, 1))) << "checksum off by one";
    EXPECT_FALSE(Controller::imageLooksRight(image(payload, 3))) << "sum of 3 bytes only";
    EXPECT_FALSE(Controller::imageLooksRight(image(""))) << "20 bytes are only a header";
    Exact otherProduct = image(payload);
    otherProduct.bytes[5] = '-';
    EXPECT_FALSE(Controller::imageLooksRight(otherProduct));
    // Lengths below the download's size that still reach past its end.
    EXPECT_FALSE(Controller::imageLooksRight(image(payload, payload.size() + 1)));
    EXPECT_FALSE(Controller::imageLooksRight(image(payload, payload.size() + 19)));
    EXPECT_FALSE(Controller::imageLooksRight(image(payload, 0xFFFFFFFF)));
}

TEST(UpdateFormats, PercentIsSoundForSmallUnknownAndOverfullTotals) {
    EXPECT_EQ(Controller::percentOf(1, 3), 33u);
    EXPECT_EQ(Controller::percentOf(40, 80), 50u) << "a total below 100 bytes";
    EXPECT_EQ(Controller::percentOf(10, 0), 0u) << "no total announced";
    EXPECT_EQ(Controller::percentOf(500, 400), 100u);
    EXPECT_EQ(Controller::percentOf(int64_t(1) << 59, int64_t(1) << 61), 25u) << "no overflow";
}

TEST(UpdateFormats, InstallerNamesStayInsideTheirFolderAndTheServerFollowsTheEnvironment) {
    EXPECT_TRUE(Controller::safeFileName(u"TesseraQuadrix-1.2.0.deb"));
    for (std::u16string_view bad : {u"", u"..", u"../.bashrc", u"a/b.deb", u"a\\b.deb"})
        EXPECT_FALSE(Controller::safeFileName(bad));

    qxtest::ScopedEnv server(QXUpdateEndpoints::kServerVariable, "http://127.0.0.1:8123");
    EXPECT_EQ(QXUpdateEndpoints::fromEnvironment().firmwareList,
              "http://127.0.0.1:8123/firmware/versions.txt");
    qxtest::ScopedEnv unset(QXUpdateEndpoints::kServerVariable, "");
    EXPECT_TRUE(QXUpdateEndpoints::fromEnvironment().programList.starts_with(
        QXUpdateEndpoints::kDefaultServer));
}

} // namespace
