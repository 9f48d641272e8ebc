// Painting on a key surface, which stores its rows bottom-up in blue-green-red order.

#include "KitTestContext.h"
#include "kit/QXKeySurfacePainter.h"

#include <gtest/gtest.h>

namespace {

constexpr int kStride = 48 * 3;

TEST(KeySurfacePainter, TopLeftPixelLandsInTheLastRowAsBlueGreenRed) {
    kittest::KitTestContext context;
    QXDrawingSurface* surface = context.GetDC();
    unsigned char* bits = context.bits();
    // An earlier picture's bottom-left pixel, green: kept, and kept in its place.
    bits[1] = 255;
    {
        QXKeySurfacePainter painter(surface);
        EXPECT_EQ(painter.image().pixel(0, 47), qRgb(0, 255, 0)) << "read without the row flip";
        painter.painter().fillRect(0, 0, 1, 1, QColor(255, 0, 0));
    }
    const unsigned char* topLeft = bits + 47 * kStride;
    EXPECT_EQ(topLeft[0], 0);   // blue
    EXPECT_EQ(topLeft[1], 0);   // green
    EXPECT_EQ(topLeft[2], 255); // red
    EXPECT_EQ(topLeft[3] + topLeft[4] + topLeft[5], 0) << "painted beyond the pixel";
    EXPECT_EQ(bits[0], 0);
    EXPECT_EQ(bits[1], 255) << "an unpainted pixel lost its content";
    EXPECT_EQ(bits[2], 0);
}

} // namespace
