#include "StoreTestUtil.h"
#include "store/QXImage.h"
#include "support/QXTestSupport.h"

#include <gtest/gtest.h>

using qxtest::TempDir;

namespace {

RGBQUAD pixel(const fipImage& image, unsigned x, unsigned y) {
    RGBQUAD p{};
    image.getPixelColor(x, y, &p);
    return p;
}

TEST(QXImage, PictureFromAFileIsDecodedOnlyWhenAskedAndCanBeReleasedAgain) {
    TempDir dir;
    storetest::writePng(dir / "k.png", 0, 128, 255);
    auto image = QXImage::fromFile(dir / "k.png");
    EXPECT_FALSE(image->isLoaded());
    ASSERT_TRUE(image->loadSource());
    EXPECT_EQ(pixel(*image, 3, 3).rgbGreen, 128);
    image->unload();
    EXPECT_FALSE(image->isLoaded());
    EXPECT_EQ(image->sourcePath(), dir / "k.png") << "the file is still known";
}

TEST(QXImage, OtherSizesAreScaledToTheKeySize) {
    fipImage wide(FIT_BITMAP, 96, 96, 24);
    for (unsigned y = 0; y < 96; ++y)
        for (unsigned x = 0; x < 96; ++x) {
            RGBQUAD c{};
            c.rgbRed = x < 48 ? 255 : 0;
            c.rgbBlue = x < 48 ? 0 : 255;
            wide.setPixelColor(x, y, &c);
        }
    QXImage image(wide);
    image.ensureKeySize();
    ASSERT_EQ(image.getWidth(), 48u);
    ASSERT_EQ(image.getHeight(), 48u);
    EXPECT_GT(pixel(image, 5, 20).rgbRed, 200) << "the left half stays red: scaled, not cropped";
    EXPECT_GT(pixel(image, 42, 20).rgbBlue, 200);
}

TEST(QXImage, CopiesCarryPixelsMarkAndSourceButNotTheirStorage) {
    QXImage a(fipImage(FIT_BITMAP, 48, 48, 24));
    a.setChanged(true);
    a.setSourcePath("/somewhere/a.png");
    QXImage b(a);
    EXPECT_TRUE(b.changed());
    EXPECT_EQ(b.sourcePath(), "/somewhere/a.png");
    RGBQUAD white{255, 255, 255, 0};
    b.setPixelColor(1, 1, &white);
    EXPECT_EQ(pixel(a, 1, 1).rgbRed, 0) << "a copy owns its pixels";
}

TEST(QXImage, HostileOrBrokenFilesAreRefusedWithoutDecodingThem) {
    TempDir dir;
    // 25 million pixels in a few kilobytes of PNG.
    fipImage huge(FIT_BITMAP, 5000, 5000, 1);
    ASSERT_TRUE(huge.save((dir / "huge.png").c_str()));
    QXImage image;
    EXPECT_FALSE(image.loadFile(dir / "huge.png"));
    EXPECT_FALSE(image.isLoaded());

    qxtest::writeFile(dir / "text.png", "this is not a picture");
    EXPECT_FALSE(image.loadFile(dir / "text.png"));
    storetest::writePng(dir / "cut.png", 1, 2, 3);
    std::string bytes = qxtest::readFile(dir / "cut.png");
    qxtest::writeFile(dir / "cut.png", bytes.substr(0, bytes.size() / 3));
    image.loadFile(dir / "cut.png"); // may decode partly or not at all; must not crash
    EXPECT_FALSE(image.loadFile(dir / "missing.png"));
}

TEST(QXImage, SavedPictureReadsBackAndTheFileIsReplacedWhole) {
    TempDir dir;
    QXImage image(fipImage(FIT_BITMAP, 48, 48, 24));
    RGBQUAD green{0, 200, 0, 0};
    image.setPixelColor(10, 10, &green);
    ASSERT_TRUE(image.saveFile(dir / "k.png"));
    EXPECT_EQ(image.sourcePath(), dir / "k.png");
    QXImage back;
    ASSERT_TRUE(back.loadFile(dir / "k.png"));
    EXPECT_EQ(pixel(back, 10, 10).rgbGreen, 200);
    QXImage empty;
    EXPECT_FALSE(empty.saveFile(dir / "k.png")) << "nothing to write";
    EXPECT_TRUE(back.loadFile(dir / "k.png")) << "and the old file is still whole";
}

} // namespace
