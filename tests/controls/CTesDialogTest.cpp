// The ratio-layout dialog on a real window: controls following the size, the smallest
// size, the aspect ratio, the size grip and its pointer, and the background it leaves out.

#include "controls/TesseraControls.h"

#include <QApplication>
#include <QImage>
#include <QProxyStyle>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace {

void ensureApplication() {
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "controls_tests";
        static char* argv[] = {name, nullptr};
        qputenv("QT_QPA_PLATFORM", "offscreen"); // never the developer's desktop
        new QApplication(argc, argv);            // kept to the end
    }
}

// A dialog as a plug-in page would write one: controls built in the constructor, the
// layout rules given in OnInitDialog after the base version.
class LayoutDialog : public CTesDialog {
public:
    explicit LayoutDialog(QPoint aspect = {}) : CTesDialog(100, nullptr, 1), m_aspect(aspect) {
        resize(300, 200);
        wider.setParent(this);
        wider.setGeometry(10, 10, 100, 20);
        moving.setParent(this);
        moving.setGeometry(120, 10, 50, 20);
        both.setParent(this);
        both.setGeometry(10, 40, 100, 20);
        opaque.setParent(this);
        opaque.setGeometry(10, 100, 40, 40);
        plain.setParent(this);
        plain.setGeometry(100, 100, 40, 40);
        box.setParent(this);
        box.setGeometry(0, 150, 200, 40);
        nested.setParent(&box);
        nested.setGeometry(10, 5, 20, 20);
        doomed = new QWidget(this);
        doomed->setGeometry(200, 40, 50, 20);
    }

    int OnInitDialog() override {
        CTesDialog::OnInitDialog();
        AddControl(&wider, TES_FOLLOW_WIDTH, 1, QRect());
        AddControl(&moving, TES_MOVE_RIGHT, 1, QRect());
        AddControl(&both, TES_FOLLOW_WIDTH | TES_MOVE_RIGHT, 1, QRect());
        AddControl(&opaque, 0, 0, QRect());
        AddControl(&plain, 0, 1, QRect());
        AddControl(doomed, TES_FOLLOW_WIDTH | TES_MOVE_RIGHT, 1, QRect());
        AddControl(&nested, TES_MOVE_RIGHT, 1, QRect()); // inside a box that stays
        AddControl(nullptr, TES_FOLLOW_WIDTH, 1, QRect());
        AddControl(TES_DLG_CONTROL{});
        SetRatioRect(&m_aspect);
        rcMax = QRect(QPoint(), largest);
        return 1;
    }

    using CTesDialog::controls;
    using CTesDialog::keepCursor;
    using CTesDialog::sizingCursor;
    QSize largest; // none while empty

    QWidget wider, moving, both, opaque, plain, box, nested; // paint nothing of their own
    QWidget* doomed;
    QPoint m_aspect;
};

class CTesDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureApplication(); }

    static void showAndWait(QWidget& w) {
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w)) << "the dialog never showed";
    }
};

TEST_F(CTesDialogTest, ControlsFollowTheWidthAgainstTheInitialSizeAndTheDialogNeverShrinksBelowIt) {
    LayoutDialog dialog;
    showAndWait(dialog);
    EXPECT_EQ(dialog.controls.size(), 8u) << "the grip and seven controls, no null records";

    dialog.resize(330, 200);
    EXPECT_EQ(dialog.wider.geometry(), QRect(10, 10, 130, 20)) << "flags 1: 30 wider in place";
    EXPECT_EQ(dialog.moving.geometry(), QRect(150, 10, 50, 20)) << "flags 4: 30 right";
    EXPECT_EQ(dialog.both.geometry(), QRect(40, 40, 130, 20)) << "flags 5: both";
    EXPECT_EQ(dialog.plain.geometry(), QRect(100, 100, 40, 40)) << "flags 0 stays";
    EXPECT_EQ(dialog.nested.geometry(), QRect(40, 5, 20, 20)) << "placed in its box's terms";

    // A second change is measured from the initial size again, not from 330.
    dialog.resize(310, 200);
    EXPECT_EQ(dialog.wider.geometry(), QRect(10, 10, 110, 20));
    EXPECT_EQ(dialog.both.geometry(), QRect(20, 40, 110, 20));

    dialog.resize(250, 150);
    EXPECT_EQ(dialog.size(), QSize(300, 200)) << "smaller than the first size is refused";
    EXPECT_EQ(dialog.wider.geometry(), QRect(10, 10, 100, 20));

    auto* grip = dialog.findChild<CTesSizeGrip*>("5000");
    ASSERT_NE(grip, nullptr) << "the size grip carries its identifier";
    EXPECT_FALSE(grip->accessibleName().isEmpty());
    dialog.resize(360, 240);
    EXPECT_EQ(grip->geometry(), QRect(344, 224, 16, 16)) << "the grip stays in the corner";

    // A control deleted while its dialog lives is skipped, not touched.
    delete dialog.doomed;
    dialog.resize(400, 260);
    EXPECT_EQ(grip->geometry(), QRect(384, 244, 16, 16));
    EXPECT_EQ(dialog.both.geometry(), QRect(110, 40, 200, 20));

    QWidget outsider;
    outsider.setGeometry(5, 5, 10, 10);
    dialog.AddControl(&outsider, TES_FOLLOW_WIDTH, 1, QRect());
    dialog.resize(420, 260);
    EXPECT_EQ(outsider.geometry(), QRect(5, 5, 10, 10)) << "a control outside is refused";
    EXPECT_EQ(dialog.controls.size(), 8u);
}

TEST_F(CTesDialogTest, AnAspectRatioTurnsEachDraggedEdgeIntoTheMatchingOtherSide) {
    LayoutDialog dialog(QPoint(4, 3));
    showAndWait(dialog);
    const QPoint topLeft = dialog.geometry().topLeft(); // the client area's place

    dialog.resize(340, 200); // the right edge 40 wider
    EXPECT_EQ(dialog.size(), QSize(340, 230)) << "4:3, +40 wide makes +30 tall";
    EXPECT_EQ(dialog.geometry().topLeft(), topLeft);

    dialog.resize(340, 260); // the bottom edge 30 lower again: 60 over the first height
    EXPECT_EQ(dialog.size(), QSize(380, 260));

    // The left edge: the window grows to the left and the height follows.
    dialog.setGeometry(topLeft.x() - 40, topLeft.y(), 420, 260);
    EXPECT_EQ(dialog.size(), QSize(420, 290));
    EXPECT_EQ(dialog.geometry().topLeft(), QPoint(topLeft.x() - 40, topLeft.y()));

    // The grip, dragged by the mouse: the dialog follows the pointer where no window
    // manager runs the resize, and the ratio still holds.
    dialog.setGeometry(QRect(topLeft, dialog.size()));
    const QPoint corner(dialog.width() - 6, dialog.height() - 6);
    QTest::mousePress(&dialog, Qt::LeftButton, {}, corner);
    QTest::mouseMove(&dialog, corner + QPoint(80, 0));
    QTest::mouseRelease(&dialog, Qt::LeftButton, {}, corner + QPoint(80, 0));
    EXPECT_EQ(dialog.size(), QSize(500, 350)) << "80 wider from 420 x 290";

    LayoutDialog free(QPoint(0, 3)); // not a ratio: ignored
    free.largest = QSize(400, 260);
    showAndWait(free);
    free.resize(340, 200);
    EXPECT_EQ(free.size(), QSize(340, 200));
    free.resize(500, 300);
    EXPECT_EQ(free.size(), QSize(400, 260)) << "no larger than rcMax";
}

TEST_F(CTesDialogTest, TheGripSquareShowsTheDiagonalPointerUnlessTheDialogIsMaximised) {
    LayoutDialog dialog;
    showAndWait(dialog);
    QTest::mouseMove(&dialog, QPoint(292, 192));
    EXPECT_EQ(dialog.cursor().shape(), Qt::SizeFDiagCursor);
    EXPECT_TRUE(dialog.sizingCursor);
    QTest::mouseMove(&dialog, QPoint(250, 100));
    EXPECT_EQ(dialog.cursor().shape(), Qt::ArrowCursor);
    EXPECT_FALSE(dialog.sizingCursor);
    dialog.keepCursor = 1;
    QTest::mouseMove(&dialog, QPoint(292, 192));
    QTest::mouseMove(&dialog, QPoint(250, 100));
    EXPECT_EQ(dialog.cursor().shape(), Qt::SizeFDiagCursor) << "kept while asked to";

    LayoutDialog maximised;
    maximised.showMaximized();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&maximised));
    ASSERT_TRUE(maximised.isMaximized());
    const QPoint corner(maximised.width() - 8, maximised.height() - 8);
    QTest::mouseMove(&maximised, corner);
    EXPECT_EQ(maximised.cursor().shape(), Qt::ArrowCursor);
    EXPECT_FALSE(maximised.sizingCursor);
}

// A style without a size-grip primitive.
class NoGripStyle : public QProxyStyle {
public:
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        if (element != CE_SizeGrip) {
            QProxyStyle::drawControl(element, option, painter, widget);
        }
    }
};

TEST_F(CTesDialogTest, TheGripShowsTheStylesPrimitiveOrElseTheLibrarysIcon) {
    LayoutDialog dialog;
    showAndWait(dialog);
    auto* grip = dialog.findChild<CTesSizeGrip*>("5000");
    ASSERT_NE(grip, nullptr);
    EXPECT_FALSE(grip->usesIcon()) << "the application's style draws a grip";
    const QImage styled = grip->picture().toImage();

    NoGripStyle bare;
    grip->setStyle(&bare);
    EXPECT_TRUE(grip->usesIcon());
    const QImage icon = grip->picture().toImage();
    EXPECT_EQ(icon.size(), QSize(16, 16));
    EXPECT_NE(icon, styled);
    EXPECT_NE(icon.pixel(14, 14), icon.pixel(1, 1)) << "the icon shows dots in the corner";
    grip->setStyle(nullptr);
}

TEST_F(CTesDialogTest, TheBackgroundLeavesOutControlsThatAskNotToBeErased) {
    LayoutDialog dialog;
    showAndWait(dialog);
    QImage picture(dialog.size(), QImage::Format_RGB32);
    picture.fill(Qt::magenta);
    dialog.render(&picture); // with the window background, as on screen
    const QRgb face = dialog.palette().color(dialog.backgroundRole()).rgb();
    EXPECT_EQ(picture.pixel(20, 110), QColor(Qt::magenta).rgb()) << "erase 0: left alone";
    EXPECT_EQ(picture.pixel(110, 110), face) << "erase 1: painted behind the control";
    EXPECT_EQ(picture.pixel(250, 50), face);
}

} // namespace
