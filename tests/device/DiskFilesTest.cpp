#include "device/QXDiskFiles.h"
#include "model/QXKeyTable.h"
#include "platform/QXLog.h"
#include "support/QXTestSupport.h"

#include <gtest/gtest.h>
#include <vector>

namespace fs = std::filesystem;
using qxtest::readFile;
using qxtest::TempDir;
using qxtest::writeFile;

namespace {

constexpr size_t kKeypadEnter = 112, kEscape = 0, kKey7 = 25;

// A 48 x 48, 24-bit bottom-up picture of one colour, with one pixel (top-left) of another.
struct Picture {
    std::vector<uint8_t> bits = std::vector<uint8_t>(48 * 144);
    explicit Picture(uint8_t r, uint8_t g, uint8_t b) {
        for (size_t i = 0; i < bits.size(); i += 3) {
            bits[i] = b;
            bits[i + 1] = g;
            bits[i + 2] = r;
        }
    }
    void topLeft(uint8_t r, uint8_t g, uint8_t b) {
        uint8_t* p = &bits[47 * 144]; // the top row is the last one stored
        p[0] = b, p[1] = g, p[2] = r;
    }
    QXBitmapView view() const { return {bits.data(), 48, 48, 24, 144}; }
};

class DiskFilesTest : public ::testing::Test {
protected:
    DiskFilesTest() {
        writeVersion("TesseraV0.80b");
        std::string table(9216, '\xFF');
        table[0] = 1, table[1] = 0x42; // the keyboard's own first entry
        writeFile(m_disk / "vTessera" / "scancode.sys", table);
        m_files.setPause([this](int ms) { m_pauses.push_back(ms); });
    }
    void writeVersion(const std::string& text) {
        writeFile(m_disk / "vTessera" / "version.sys", text + std::string(1, '\0') + "junk");
    }
    std::string file(const std::string& relative) { return readFile(m_disk / "vTessera" / relative); }

    TempDir m_disk;
    QXDiskFiles m_files;
    std::vector<int> m_pauses;
};

TEST_F(DiskFilesTest, SameImageTwiceIsWrittenOnceAndOnlyTheLastOfTwoStagings) {
    ASSERT_TRUE(m_files.prepare(m_disk.path(), 512));
    Picture a(255, 0, 0), b(0, 0, 255);
    EXPECT_TRUE(m_files.stageImage(kEscape, a.view()));
    m_files.writePass();
    EXPECT_FALSE(m_files.stageImage(kEscape, a.view())) << "unchanged content is not staged";
    m_files.writePass();
    EXPECT_EQ(m_files.bytesWritten(), 4608u) << "one region of 4608 bytes, once";

    EXPECT_TRUE(m_files.stageImage(kEscape, b.view()));
    EXPECT_TRUE(m_files.stageImage(kEscape, a.view())) << "back to what the keyboard has";
    EXPECT_TRUE(m_files.stageImage(kEscape, b.view()));
    m_files.writePass();
    EXPECT_EQ(m_files.bytesWritten(), 2u * 4608u);
    const std::string escape = file("dynamic/099.sys");
    ASSERT_EQ(escape.size(), 4608u);
    EXPECT_EQ(static_cast<uint8_t>(escape[0]), 0x00);
    EXPECT_EQ(static_cast<uint8_t>(escape[1]), 0x1F) << "blue in RGB 5-6-5, high byte first";
}

TEST_F(DiskFilesTest, PixelsPackWithTheGreenRuleAndTheTallKeysTurn) {
    ASSERT_TRUE(m_files.prepare(m_disk.path(), 512));
    Picture dark(0, 7, 0);
    dark.topLeft(255, 255, 255);
    m_files.stageImage(kEscape, dark.view());
    m_files.stageImage(kKeypadEnter, dark.view());
    m_files.writePass();
    const std::string escape = file("dynamic/099.sys");
    EXPECT_EQ(static_cast<uint8_t>(escape[0]), 0xFF) << "white top-left";
    EXPECT_EQ(static_cast<uint8_t>(escape[2]), 0x00) << "green 7 packs as 0";
    EXPECT_EQ(static_cast<uint8_t>(escape[3]), 0x00);
    const std::string enter = file("dynamic/003.sys");
    EXPECT_EQ(static_cast<uint8_t>(enter[0]), 0x00) << "turned: the corner moved";
    EXPECT_EQ(static_cast<uint8_t>(enter[47 * 2]), 0xFF) << "to the top-right";

    Picture green8(0, 8, 0);
    m_files.stageImage(kEscape, green8.view());
    m_files.writePass();
    const std::string lit = file("dynamic/099.sys");
    EXPECT_EQ(static_cast<uint8_t>(lit[0]), 0x00);
    EXPECT_EQ(static_cast<uint8_t>(lit[1]), 0x40) << "green 8 is the first green that stays";

    std::vector<uint8_t> small(40 * 40 * 3);
    EXPECT_FALSE(m_files.stageImage(kEscape, {small.data(), 40, 40, 24, 120}));
    EXPECT_FALSE(m_files.stageImage(kEscape, {small.data(), 48, 48, 16, 96}));
}

TEST_F(DiskFilesTest, CommandsAreLimitedAndKeepLaterBytes) {
    ASSERT_TRUE(m_files.prepare(m_disk.path(), 512));
    m_files.stageSleepDelay(12000);
    m_files.writePass();
    EXPECT_EQ(file("order.sys").substr(0, 7), std::string("s9999\0\x77", 7));
    m_files.stageBrightness(150, true);
    m_files.writePass();
    EXPECT_EQ(file("order.sys").substr(0, 6), std::string("b100A\0", 6));
    m_files.stageBrightness(50, false);
    m_files.writePass();
    EXPECT_EQ(file("order.sys").substr(0, 7), std::string("b050\0\0\x77", 7))
        << "bytes after the terminator are left from earlier commands";
    EXPECT_EQ(file("order.sys").size(), 512u);

    m_files.stageEnableTable(true);
    m_files.writePass();
    const std::string layout = file("layout.sys");
    ASSERT_EQ(layout.size(), 512u);
    EXPECT_EQ(layout.substr(0, 114), std::string(114, '\x01'));
    EXPECT_EQ(layout.substr(114), std::string(512 - 114, '\x77')) << "the rest of the sector";
}

TEST_F(DiskFilesTest, CodeTableFollowsTheFirmwareVersion) {
    ASSERT_TRUE(m_files.prepare(m_disk.path(), 512));
    EXPECT_TRUE(m_files.hasOwnCodeTable());
    EXPECT_FALSE(m_files.oldFirmware());
    EXPECT_EQ(m_files.ownCodeTable()[1], 0x42);
    QXDiskFiles::setSignallingEntry(m_files.workingCodeTable(), kKey7);
    EXPECT_TRUE(m_files.stageCodeTable());
    m_files.writePass();
    EXPECT_TRUE(m_pauses.empty()) << "TesseraV0.80b needs no pause";
    const size_t at = (QXKeyTable::key(kKey7).codeSlot - 1) * 64;
    EXPECT_EQ(file("scancode.sys").substr(at, 13),
              std::string("\x02\x7A\x04\x7A\x02\x83\x04\x83\x02\x81\x04\x81\xFF", 13));

    QXDiskFiles old;
    old.setPause([this](int ms) { m_pauses.push_back(ms); });
    writeVersion("TesseraV0.61");
    ASSERT_TRUE(old.prepare(m_disk.path(), 512));
    EXPECT_FALSE(old.hasOwnCodeTable());
    EXPECT_TRUE(old.oldFirmware());
    EXPECT_EQ(old.workingCodeTable()[1], 0xFF) << "starts from an all-0xFF table";
    QXDiskFiles::setPlainEntry(old.workingCodeTable(), kEscape, 0x29);
    EXPECT_TRUE(old.stageCodeTable());
    old.writePass();
    EXPECT_EQ(m_pauses, (std::vector<int>{300}));
}

TEST_F(DiskFilesTest, BadVersionsAndFirmwareImagesAreRefused) {
    EXPECT_FALSE(m_files.prepare(m_disk.path(), 0));
    writeVersion("");
    EXPECT_FALSE(m_files.prepare(m_disk.path(), 512)) << "an empty version";
    fs::remove(m_disk / "vTessera" / "version.sys");
    EXPECT_FALSE(m_files.prepare(m_disk.path(), 512)) << "no version";
    writeVersion("TesseraV0.76b");
    ASSERT_TRUE(m_files.prepare(m_disk.path(), 512));
    EXPECT_FALSE(m_files.oldFirmware()) << "0.76b itself is new";
    std::vector<uint8_t> image(655359, 0xAB);
    EXPECT_FALSE(m_files.stageFirmware(image));
    image.push_back(0xCD);
    EXPECT_TRUE(m_files.stageFirmware(image));
    m_files.writePass();
    EXPECT_EQ(fs::file_size(m_disk / "vTessera" / "upgrade.bin"), 655360u);
}

TEST_F(DiskFilesTest, ADiskThatGoesAwayLeavesTheWriterUsable) {
    ASSERT_TRUE(m_files.prepare(m_disk.path(), 512));
    fs::remove_all(m_disk / "vTessera");
    writeFile(m_disk / "vTessera", "a file where the folder was");
    Picture a(1, 2, 3);
    EXPECT_TRUE(m_files.stageImage(kEscape, a.view()));
    m_files.writePass(); // cannot open: stays dirty
    EXPECT_EQ(m_files.bytesWritten(), 0u);
    fs::remove(m_disk / "vTessera");
    m_files.writePass();
    EXPECT_EQ(m_files.bytesWritten(), 4608u) << "written once the disk is back";
}

TEST_F(DiskFilesTest, LinksAmongTheKeyboardsFilesLeadNowhere) {
    // Links planted where the keyboard's files and folders go, into the user's own files.
    TempDir elsewhere;
    fs::create_directories(elsewhere / "pictures");
    writeFile(elsewhere / "notes", "the user's own file");
    writeFile(elsewhere / "table", std::string(9216, '\x11'));
    fs::remove(m_disk / "vTessera" / "scancode.sys");
    fs::create_symlink(elsewhere / "table", m_disk / "vTessera" / "scancode.sys");
    fs::create_symlink(elsewhere / "notes", m_disk / "vTessera" / "order.sys");
    fs::create_symlink(elsewhere / "pictures", m_disk / "vTessera" / "dynamic");
    std::vector<std::string> warnings;
    const int observer = QXLog::addObserver(
        [&](QXLogLevel, const char*, std::string_view text) { warnings.emplace_back(text); });

    ASSERT_TRUE(m_files.prepare(m_disk.path(), 512));
    EXPECT_FALSE(m_files.hasOwnCodeTable()) << "a linked code table is not the keyboard's";
    Picture a(1, 2, 3);
    EXPECT_TRUE(m_files.stageImage(kEscape, a.view()));
    EXPECT_TRUE(m_files.stageBrightness(50, false));
    EXPECT_TRUE(m_files.stageEnableTable(true));
    QXDiskFiles::setPlainEntry(m_files.workingCodeTable(), kEscape, 0x29);
    EXPECT_TRUE(m_files.stageCodeTable());
    m_files.writePass();
    m_files.writePass();
    QXLog::removeObserver(observer);

    EXPECT_EQ(readFile(elsewhere / "notes"), "the user's own file");
    EXPECT_EQ(readFile(elsewhere / "table"), std::string(9216, '\x11'));
    EXPECT_TRUE(fs::is_empty(elsewhere / "pictures"));
    EXPECT_EQ(file("layout.sys").size(), 512u) << "the keyboard's real files are still written";
    EXPECT_EQ(m_files.bytesWritten(), 512u);
    size_t orderWarnings = 0;
    for (const std::string& text : warnings)
        orderWarnings += text.find("order.sys") != std::string::npos;
    EXPECT_EQ(orderWarnings, 1u) << "said once, naming the file";

    fs::remove(m_disk / "vTessera" / "version.sys");
    fs::create_symlink(elsewhere / "notes", m_disk / "vTessera" / "version.sys");
    QXDiskFiles linked;
    EXPECT_FALSE(linked.prepare(m_disk.path(), 512)) << "the version is not read through a link";
}

TEST(DiskFilesDump, TheFolderGetsTheKeyboardsFormats) {
    TempDir dir;
    std::vector<QXBitmapView> normal(113), shift(113);
    Picture red(255, 0, 0);
    normal[kEscape] = red.view();
    shift[kKeypadEnter] = red.view();
    QXDiskFiles::CodeTable codes;
    codes.fill(0xFF);
    QXDiskFiles::setPlainEntry(codes, kEscape, 0x29);
    ASSERT_TRUE(QXDiskFiles::dumpToFolder(dir.path(), normal, shift, codes));
    EXPECT_EQ(fs::file_size(dir / "Tessera" / "normal" / "099.sys"), 4608u);
    EXPECT_EQ(fs::file_size(dir / "Tessera" / "shift" / "003.sys"), 4608u);
    EXPECT_FALSE(fs::exists(dir / "Tessera" / "normal" / "003.sys"));
    EXPECT_EQ(readFile(dir / "Tessera" / "scancode.sys").substr(7 * 64, 3), "\x01\x29\xFF");
}

} // namespace
