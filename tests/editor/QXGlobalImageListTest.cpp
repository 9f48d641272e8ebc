#include "editor/QXGlobalImageList.h"

#include <gtest/gtest.h>

namespace {

TEST(QXGlobalImageList, StartsWithTheProgramIconAndKeepsEveryIconAtSixteenPixels) {
    QXGlobalImageList& list = QXGlobalImageList::instance();
    ASSERT_GE(list.count(), 1);
    QImage program = list.icon(QXGlobalImageList::kProgramIcon);
    EXPECT_EQ(program.size(), QSize(16, 16));
    bool painted = false;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            painted = painted || qAlpha(program.pixel(x, y)) > 0;
    EXPECT_TRUE(painted) << "the program icon was found and drawn";

    QImage big(64, 32, QImage::Format_RGB32);
    big.fill(Qt::red);
    const int first = list.add(big);
    const int second = list.add(QImage());
    EXPECT_EQ(second, first + 1);
    EXPECT_EQ(list.icon(first).size(), QSize(16, 16));
    EXPECT_EQ(qRed(list.icon(first).pixel(8, 8)), 255) << "the middle of a wide icon";
    EXPECT_EQ(qAlpha(list.icon(first).pixel(8, 0)), 0) << "padding above a wide icon is clear";
    EXPECT_EQ(qAlpha(list.icon(second).pixel(8, 8)), 0);
    EXPECT_EQ(list.icon(9999).size(), QSize(16, 16)) << "no index fails";
}

} // namespace
