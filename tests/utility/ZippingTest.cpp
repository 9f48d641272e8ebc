#include "platform/QXText.h"
#include "support/QXTestSupport.h"
#include "utility/utility.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <zip.h>

namespace fs = std::filesystem;

namespace {

struct RawEntry {
    std::string name;
    std::string content;
    uint32_t unixMode = 0; // external attributes; 0 leaves libzip's default
    bool stored = false;
};

// Builds an archive entry by entry, with whatever names and attributes a hostile packer
// might write.
void buildArchive(const fs::path& file, const std::vector<RawEntry>& entries) {
    int error = 0;
    zip_t* archive = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(archive, nullptr);
    for (const RawEntry& entry : entries) {
        zip_source_t* source =
            zip_source_buffer(archive, entry.content.data(), entry.content.size(), 0);
        zip_int64_t index = zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8);
        ASSERT_GE(index, 0) << entry.name;
        if (entry.unixMode)
            zip_file_set_external_attributes(archive, index, 0, ZIP_OPSYS_UNIX,
                                             entry.unixMode << 16);
        if (entry.stored)
            zip_set_file_compression(archive, index, ZIP_CM_STORE, 0);
    }
    ASSERT_EQ(zip_close(archive), 0);
}

// Every path below root: files map to their content, folders to "<folder>".
std::map<std::string, std::string> snapshot(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        tree[entry.path().lexically_relative(root).generic_string()] =
            entry.is_directory() ? "<folder>" : qxtest::readFile(entry.path());
    return tree;
}

std::string lastError() {
    char16_t buffer[512];
    ZippingLastError(buffer, 512);
    return toUtf8(buffer);
}

class ZippingTest : public ::testing::Test {
protected:
    int archive(const fs::path& folder, const fs::path& file) {
        return ZippingArchiveFolder(fromPath(folder).c_str(), fromPath(file).c_str());
    }
    int unarchive(const fs::path& file, const fs::path& folder) {
        return ZippingUnarchiveFolder(fromPath(file).c_str(), fromPath(folder).c_str());
    }

    // The archive must be refused as a whole: no destination, nothing outside it.
    void expectRefused(const std::vector<RawEntry>& entries) {
        buildArchive(m_zip, entries);
        EXPECT_EQ(unarchive(m_zip, m_out), 0);
        EXPECT_FALSE(fs::exists(m_out)) << "the destination was created for a refused archive";
        EXPECT_FALSE(fs::exists(m_dir / "escaped.txt")) << "an entry landed outside";
        EXPECT_NE(lastError().find("refused"), std::string::npos) << lastError();
    }

    qxtest::TempDir m_dir;
    fs::path m_source = m_dir / "source";
    fs::path m_zip = m_dir / "set.zip";
    fs::path m_out = m_dir / "out";
};

TEST_F(ZippingTest, RoundTripKeepsTheWholeTree) {
    std::string binary;
    for (int i = 0; i < 256; ++i)
        binary.push_back(static_cast<char>(i));
    std::mt19937 random(7);
    for (int i = 0; i < 300000; ++i)
        binary.push_back(static_cast<char>(random()));
    qxtest::writeFile(m_source / "top.txt", "top");
    qxtest::writeFile(m_source / "a" / "b" / "c" / "deep.bin", binary);
    qxtest::writeFile(m_source / "Ébène" / "記号 ✓.txt", "non-ASCII");
    fs::create_directories(m_source / "empty" / "inner-empty");

    ASSERT_EQ(archive(m_source, m_zip), 1) << lastError();
    ASSERT_EQ(unarchive(m_zip, m_out), 1) << lastError();
    EXPECT_EQ(snapshot(m_out), snapshot(m_source));
}

TEST_F(ZippingTest, EmptyFolderGivesAnArchiveThatUnpacksToNothing) {
    fs::create_directories(m_source);
    ASSERT_EQ(archive(m_source, m_zip), 1) << lastError();
    ASSERT_EQ(unarchive(m_zip, m_out), 1) << lastError();
    EXPECT_TRUE(fs::is_directory(m_out));
    EXPECT_TRUE(fs::is_empty(m_out));
}

TEST_F(ZippingTest, ArchiveReplacesTheTargetWithoutLeftovers) {
    qxtest::writeFile(m_source / "new.txt", "new");
    qxtest::writeFile(m_zip, "an older file in the way");
    ASSERT_EQ(archive(m_source, m_zip), 1) << lastError();
    ASSERT_EQ(unarchive(m_zip, m_out), 1) << lastError();
    EXPECT_EQ(snapshot(m_out), snapshot(m_source));
    std::vector<std::string> beside;
    for (const auto& entry : fs::directory_iterator(m_dir.path()))
        beside.push_back(entry.path().filename().string());
    std::sort(beside.begin(), beside.end());
    EXPECT_EQ(beside, (std::vector<std::string>{"out", "set.zip", "source"}));
}

TEST_F(ZippingTest, FailedArchiveLeavesNoFile) {
    EXPECT_EQ(archive(m_dir / "missing", m_zip), 0);
    EXPECT_FALSE(fs::exists(m_zip));
    EXPECT_FALSE(lastError().empty());

    qxtest::writeFile(m_source / "file.txt", "x");
    EXPECT_EQ(archive(m_source, m_dir / "no-such-folder" / "set.zip"), 0);
    EXPECT_FALSE(fs::exists(m_dir / "no-such-folder"));
}

TEST_F(ZippingTest, RefusesAbsoluteNames) {
    expectRefused({{"good.txt", "g"}, {(m_dir / "escaped.txt").string(), "bad"}});
}

TEST_F(ZippingTest, RefusesNamesClimbingOut) {
    expectRefused({{"good.txt", "g"}, {"../escaped.txt", "bad"}});
    expectRefused({{"sub/../../escaped.txt", "bad"}});
}

TEST_F(ZippingTest, RefusesBackslashNames) {
    expectRefused({{"..\\escaped.txt", "bad"}});
}

TEST_F(ZippingTest, RefusesSymlinkEntries) {
    // The classic: a link to a folder outside, then a file "through" it.
    expectRefused({{"good.txt", "g"},
                   {"link", m_dir.path().string(), S_IFLNK | 0777},
                   {"link/escaped.txt", "bad"}});
}

TEST_F(ZippingTest, RefusesDevicesAndFifos) {
    expectRefused({{"fifo", "", S_IFIFO | 0644}});
    expectRefused({{"disk", "", S_IFBLK | 0644}});
}

TEST_F(ZippingTest, RefusesAFileThatIsAlsoAFolder) {
    expectRefused({{"x", "file"}, {"x/y", "file below a file"}});
}

TEST_F(ZippingTest, RefusesArchivesAnnouncingMoreThanOneGiB) {
    // Each entry within the 64 MiB an entry may have, together over 1 GiB.
    std::vector<RawEntry> entries;
    for (char c = 'a'; c < 'a' + 20; ++c)
        entries.push_back({std::string(1, c) + ".bin", std::string(64, c), 0, true});
    buildArchive(m_zip, entries);
    // Announce 60 MiB for each entry, in the local and the central headers alike.
    std::string bytes = qxtest::readFile(m_zip);
    auto setSize = [&](size_t at) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<char>((0x03C00000u >> (8 * i)) & 0xff);
    };
    for (size_t at = 0; (at = bytes.find("PK\x03\x04", at)) != std::string::npos; ++at)
        setSize(at + 22);
    for (size_t at = 0; (at = bytes.find("PK\x01\x02", at)) != std::string::npos; ++at)
        setSize(at + 24);
    qxtest::writeFile(m_zip, bytes);

    EXPECT_EQ(unarchive(m_zip, m_out), 0);
    EXPECT_FALSE(fs::exists(m_out));
    EXPECT_NE(lastError().find("1 GiB"), std::string::npos) << lastError();
}

TEST_F(ZippingTest, CorruptFilesFailCleanly) {
    qxtest::writeFile(m_source / "big.bin", std::string(200000, 'q'));
    ASSERT_EQ(archive(m_source, m_zip), 1);
    std::string whole = qxtest::readFile(m_zip);

    const std::vector<std::pair<std::string, std::string>> broken = {
        {"empty", ""},
        {"text", "this is not an archive at all"},
        {"truncated", whole.substr(0, whole.size() / 2)},
        {"tail only", whole.substr(whole.size() - 30)},
    };
    for (const auto& [label, content] : broken) {
        qxtest::writeFile(m_dir / "broken.zip", content);
        EXPECT_EQ(unarchive(m_dir / "broken.zip", m_out), 0) << label;
        EXPECT_FALSE(fs::exists(m_out)) << label;
        EXPECT_FALSE(lastError().empty()) << label;
    }
    EXPECT_EQ(unarchive(m_dir / "missing.zip", m_out), 0);
}

TEST_F(ZippingTest, DamagedEntryLeavesTheDestinationAsItWas) {
    const std::string marker = "MARKER-" + std::string(100, 'm');
    buildArchive(m_zip, {{"first.txt", "first"}, {"second/damaged.txt", marker, 0, true}});
    std::string bytes = qxtest::readFile(m_zip);
    size_t at = bytes.find(marker);
    ASSERT_NE(at, std::string::npos);
    bytes[at + 50] = 'X';
    qxtest::writeFile(m_zip, bytes);
    qxtest::writeFile(m_out / "keep.txt", "kept");

    EXPECT_EQ(unarchive(m_zip, m_out), 0);
    EXPECT_EQ(snapshot(m_out), (std::map<std::string, std::string>{{"keep.txt", "kept"}}));
}

TEST_F(ZippingTest, LastErrorIsPerThreadAndFitsTheBuffer) {
    EXPECT_EQ(unarchive(m_dir / "missing.zip", m_out), 0);
    char16_t small[8];
    EXPECT_EQ(ZippingLastError(small, 8), 7);
    EXPECT_EQ(small[7], 0);

    std::string otherThreadError = "unset";
    std::thread([&] { otherThreadError = lastError(); }).join();
    EXPECT_EQ(otherThreadError, "");
}

} // namespace
