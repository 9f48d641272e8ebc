// Reading files the program does not control: the limits hold and nothing blocks.
#include "platform/QXFiles.h"
#include "support/QXTestSupport.h"

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
