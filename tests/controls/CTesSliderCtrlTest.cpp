// The self-drawn slider: its tick count, its picture pixel for pixel, the thumb where the
// mouse finds it, and the left-button notification.

#include "controls/TesseraControls.h"

#include <QApplication>
#include <QImage>
#include <QTest>
#include <gtest/gtest.h>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

void ensureApplication() {
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "controls_tests";
        static char* argv[] = {name, nullptr};
        qputenv("QT_QPA_PLATFORM", "offscreen");
        new QApplication(argc, argv);
    }
}

const QRgb kPaper = qRgb(255, 255, 255);
const QRgb kOutline = qRgb(159, 167, 171);
const QRgb kShadow = qRgb(90, 96, 99);
const QRgb kHighlight = qRgb(255, 255, 255);
const QRgb kMark = qRgb(207, 210, 213);
const QRgb kChannel = qRgb(149, 149, 149);

// Draws a line list as the window system does: each polyline without its last point.
void line(QImage& image, QRgb colour, std::initializer_list<QPoint> points) {
    const QPoint* from = nullptr;
    for (const QPoint& to : points) {
        for (QPoint p = from ? *from : to; from && p != to;) {
            image.setPixel(p, colour);
            p += QPoint((to.x() > p.x()) - (to.x() < p.x()), (to.y() > p.y()) - (to.y() < p.y()));
        }
        from = &to;
    }
}

QImage rendered(CTesSliderCtrl& slider) {
    QImage image(slider.size(), QImage::Format_RGB32);
    image.fill(kPaper);
    slider.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// The differing pixels, as "x,y" for the failure message.
std::string differences(const QImage& got, const QImage& expected) {
    std::string out;
    for (int y = 0; y < got.height(); ++y)
        for (int x = 0; x < got.width(); ++x)
            if (got.pixel(x, y) != expected.pixel(x, y))
                out += std::to_string(x) + "," + std::to_string(y) + " ";
    return out;
}

class CTesSliderCtrlTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureApplication(); }
};

TEST_F(CTesSliderCtrlTest, CountsTicksFromTheFrequencyWithTheEndsAlwaysCounted) {
    CTesSliderCtrl slider;
    slider.setRange(0, 100);
    EXPECT_EQ(slider.GetNumTics(), 2u) << "no frequency yet";
    slider.SetTicFreq(10);
    EXPECT_EQ(slider.GetNumTics(), 11u);
    slider.SetTicFreq(30);
    EXPECT_EQ(slider.GetNumTics(), 4u);
    slider.SetTicFreq(0);
    EXPECT_EQ(slider.GetNumTics(), 2u);
}

TEST_F(CTesSliderCtrlTest, DrawsChannelTicksAndThumbPixelForPixel) {
    CTesSliderCtrl slider;
    slider.setRange(0, 100);
    slider.SetTicFreq(10);
    slider.resize(229, 20); // 203 over 10 steps: 20 each and 3 spare pixels
    slider.setValue(100);
    const QRect thumb = slider.GetThumbRect();
    EXPECT_EQ((thumb.left() + thumb.right()) / 2, 229 - 13) << "the maximum at the channel end";

    slider.setValue(40);
    const QRect at40 = slider.GetThumbRect();
    const int c = (at40.left() + at40.right()) / 2;
    const int t = at40.top();
    EXPECT_NEAR(c, 13 + 81, 1) << "40% of 203 pixels along";

    QImage expected(slider.size(), QImage::Format_RGB32);
    expected.fill(kPaper);
    line(expected, kChannel, {{13, 8}, {216, 8}});
    // Ticks 0, 3 and 6 each take one spare pixel, after they are placed.
    const int ticks[] = {13, 34, 54, 74, 95, 115, 135, 156, 176, 196, 216};
    for (int i = 0; i < 11; ++i)
        line(expected, kChannel, {{ticks[i], 8}, {ticks[i], i % 2 == 0 ? 3 : 5}});
    line(expected, kOutline, {{c, t}, {c - 5, t + 5}, {c - 5, t + 14}});
    line(expected, kOutline, {{c + 1, t + 2}, {c + 5, t + 6}});
    line(expected, kOutline, {{c + 3, t + 4}, {c + 3, t + 11}, {c - 4, t + 11}});
    line(expected, kShadow, {{c - 4, t + 13}, {c + 5, t + 13}, {c + 5, t + 5}, {c, t}});
    line(expected, kHighlight, {{c, t + 1}, {c - 4, t + 5}, {c - 4, t + 13}});
    line(expected, kMark, {{c - 3, t + 10}, {c + 3, t + 10}});
    const QImage got = rendered(slider);
    EXPECT_EQ(got, expected) << "pixels that differ: " << differences(got, expected);
    EXPECT_EQ(got.pixel(216, 8), kChannel) << "the last tick's foot";
    EXPECT_EQ(got.pixel(215, 7), kPaper) << "nothing between the last two ticks";

    // Frequency 0: the same picture without ticks.
    slider.SetTicFreq(0);
    const QImage bare = rendered(slider);
    for (int x : ticks) {
        if (std::abs(x - c) > 5) {
            EXPECT_EQ(bare.pixel(x, 4), kPaper) << "no tick drawn at x " << x;
        }
    }
    EXPECT_EQ(bare.pixel(13, 8), kChannel);
}

TEST_F(CTesSliderCtrlTest, ALeftPressNotifiesFirstAndTheDrawnThumbIsTheOneThatDrags) {
    QWidget parent;
    CTesSliderCtrl slider(&parent);
    slider.setRange(0, 100);
    slider.setGeometry(0, 0, 226, 20); // 200 pixels of travel: 2 pixels a step
    parent.resize(226, 20);
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));

    std::vector<std::string> events;
    QObject::connect(&slider, &CTesSliderCtrl::notify, [&](int code) {
        events.push_back(code == CTesSliderCtrl::NM_LDOWN ? "NM_LDOWN" : "other");
    });
    QObject::connect(&slider, &QSlider::sliderPressed, [&] { events.push_back("pressed"); });

    slider.setValue(20);
    const QRect thumb = slider.GetThumbRect();
    const QPoint grab((thumb.left() + thumb.right()) / 2, thumb.top() + 7);
    EXPECT_EQ(grab.x(), 53) << "value 20 of 100 is 40 pixels along";
    QTest::mousePress(&slider, Qt::LeftButton, {}, grab);
    QTest::mouseMove(&slider, grab + QPoint(60, 0));
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, grab + QPoint(60, 0));
    EXPECT_EQ(slider.value(), 50) << "60 pixels of drag on the drawn thumb";
    EXPECT_EQ(events, (std::vector<std::string>{"NM_LDOWN", "pressed"}));
}

} // namespace
