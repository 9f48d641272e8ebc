// Reading files the program does not control: the limits hold and nothing blocks.
#include "platform/QXFiles.h"
#include "support/QXTestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

TEST(Files, ReadsAreBoundedAndNeverWaitOnSpecialFiles) {
    qxtest::TempDir dir;
    qxtest::writeFile(dir / "long", std::string(5000, 'x') + "tail");
    EXPECT_EQ(readFileStart(dir / "long", 10), std::string(10, 'x'));
    EXPECT_EQ(readFileStart(dir / "long", 1 << 20)->size(), 5004u);
    EXPECT_FALSE(readWholeFile(dir / "long", 10)) << "too long to read whole";
    EXPECT_EQ(readWholeFile(dir / "long", 5004)->size(), 5004u);

    // A FIFO where a file should be: refused at once instead of waiting for a writer.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_FALSE(readWholeFile(dir / "fifo", 100));
    EXPECT_FALSE(readFileStart(dir / "fifo", 100));
    EXPECT_FALSE(readFileStart(dir.path(), 100)) << "a folder";
    EXPECT_FALSE(readFileStart(dir / "missing", 100));
}

} // namespace

namespace {

// A crash may come at any moment of a save: the data must be on the disk before the new
// name points at it, or a power cut leaves an empty file where the old one was.
TEST(Files, AtomicWritesSyncTheDataBeforeTheRenameAndCopyInPieces) {
    qxtest::TempDir dir;
    std::vector<std::string> calls;
    auto previous = setFileCallObserver(
        [&](std::string_view call, const std::filesystem::path&) { calls.emplace_back(call); });
    auto indexOf = [&](const char* call) {
        return std::find(calls.begin(), calls.end(), call) - calls.begin();
    };

    ASSERT_TRUE(writeFileAtomically(dir / "a", "content"));
    EXPECT_EQ(calls, (std::vector<std::string>{"write", "sync", "close", "rename", "sync-folder"}));

    calls.clear();
    qxtest::writeFile(dir / "big", std::string(size_t(1) << 20, 'b'));
    ASSERT_TRUE(copyFileAtomically(dir / "big", dir / "copy"));
    EXPECT_GE(std::count(calls.begin(), calls.end(), "write"), 8)
        << "a large file is copied in pieces, never read whole";
    EXPECT_LT(indexOf("sync"), indexOf("rename"));
    EXPECT_LT(indexOf("write"), indexOf("sync"));
    EXPECT_EQ(qxtest::readFile(dir / "copy"), std::string(size_t(1) << 20, 'b'));
    setFileCallObserver(previous);
}

} // namespace
