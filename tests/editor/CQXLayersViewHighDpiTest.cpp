// The editor's pictures on a screen of twice the density (QT_SCALE_FACTOR=2 on Qt's
// offscreen platform): the keyboard view drawn in the screen's own pixels with its keys
// where the mouse finds them, and the tool-bar pictures taken from their double-size
// drawings.
#include "editor/CQXLayersView.h"
#include "editor/QXEditorArt.h"

#include "model/QXKeyTable.h"
#include "model/QXLayerTree.h"
#include "model/QXLayoutPicture.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"

#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>

namespace {

void ensureApplication() {
    static int argc = 1;
    static char name[] = "editor_high_dpi_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QApplication(argc, argv);
}

// A key picture whose left half is red and right half blue: scaling that blends pixels
// shows at the seam.
QXPtr<QXImage> halves() {
    auto image = makeQX<QXImage>(fipImage(FIT_BITMAP, 48, 48, 24));
    RGBQUAD red{0, 0, 255, 0}, blue{255, 0, 0, 0};
    for (unsigned y = 0; y < 48; ++y)
        for (unsigned x = 0; x < 48; ++x)
            image->setPixelColor(x, y, x < 24 ? &red : &blue);
    return image;
}

} // namespace

TEST(EditorHighDpi, TheKeyboardViewDrawsEveryScreenPixelAndItsKeysStayWhereTheyAre) {
    ensureApplication();
    ASSERT_EQ(qApp->devicePixelRatio(), 2.0) << "run with QT_SCALE_FACTOR=2";
    constexpr size_t kA = 64;
    QXDispatch dispatch;
    QXLayerTree tree;
    auto layer = makeQX<QXLayer>(u"layer");
    tree.topLevel() = {layer};
    for (size_t key : {size_t{0}, kA})
        layer->getButton(key)->image = halves();
    QXLayersController controller(tree, dispatch);
    controller.reevaluate();
    controller.selectItem(layer);

    CQXLayersView view(controller, dispatch);
    view.resize(QXLayoutPicture::kWidth, QXLayoutPicture::kHeight); // zoom 1
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    ASSERT_DOUBLE_EQ(view.zoom(), 1.0);

    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i)
        EXPECT_EQ(view.hitTest(view.keyRect(i).center()), i) << "key " << i;

    const QImage shot = view.grab().toImage();
    ASSERT_EQ(shot.size(), view.size() * 2);
    for (size_t key : {size_t{0}, kA}) {
        const QXLayoutPicture::Square s = QXLayoutPicture::keySquare(key);
        const int seam = 2 * (s.left + 24); // the first device pixel of the blue half
        const int y = 2 * (s.top + 24);
        EXPECT_EQ(shot.pixel(seam - 1, y), qRgb(255, 0, 0)) << "key " << key;
        EXPECT_EQ(shot.pixel(seam, y), qRgb(0, 0, 255)) << "key " << key;
        EXPECT_EQ(shot.pixel(seam - 2, y + 1), qRgb(255, 0, 0)) << "key " << key;
        EXPECT_EQ(shot.pixel(seam + 1, y + 1), qRgb(0, 0, 255)) << "key " << key;
    }

    // Half the size: the picture is drawn at the screen's 1:1 and the keys still hit.
    view.resize(QXLayoutPicture::kWidth / 2, QXLayoutPicture::kHeight / 2);
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i)
        EXPECT_EQ(view.hitTest(view.keyRect(i).center()), i) << "key " << i;
    const QImage half = view.grab().toImage();
    const QXLayoutPicture::Square s = QXLayoutPicture::keySquare(kA);
    EXPECT_EQ(half.pixel(s.left + 23, s.top + 24), qRgb(255, 0, 0));
    EXPECT_EQ(half.pixel(s.left + 24, s.top + 24), qRgb(0, 0, 255));
}

TEST(EditorHighDpi, ToolBarPicturesComeFromTheirDoubleSizeDrawings) {
    ensureApplication();
    for (const char* name : {"new-layer", "new-group", "delete", "paint", "export", "import",
                             "updates", "properties"}) {
        const QIcon icon = toolBarIcon(name);
        ASSERT_FALSE(icon.isNull()) << name;
        EXPECT_TRUE(icon.availableSizes().contains(QSize(56, 32))) << name;
        const QPixmap pixmap = icon.pixmap(QSize(56, 32));
        EXPECT_EQ(pixmap.size(), QSize(112, 64)) << name;
        const QImage drawn(QString::fromLatin1(QX_SOURCE_DIR "/data/icons/toolbar-%1@2x.png")
                               .arg(QLatin1String(name)));
        EXPECT_EQ(pixmap.toImage().convertToFormat(QImage::Format_ARGB32),
                  drawn.convertToFormat(QImage::Format_ARGB32))
            << name << ": not the double-size drawing";
    }
    EXPECT_TRUE(toolBarIcon("no-such-picture").isNull());
}
