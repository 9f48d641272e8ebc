#include "model/QXKeyTable.h"
#include "model/QXLayerTree.h"
#include "model/QXLayoutPicture.h"
#include "store/QXProfile.h"
#include "store/QXPropertyList.h"
#include "support/QXTestSupport.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <sys/stat.h>

namespace fs = std::filesystem;
using qxtest::readFile;
using qxtest::TempDir;

namespace {

constexpr size_t kEscape = 0, kF1 = 1, kCapsLock = 63;

QXPtr<QXImage> solid(unsigned r, unsigned g, unsigned b, unsigned size = 48) {
    auto image = makeQX<QXImage>(fipImage(FIT_BITMAP, size, size, 24));
    RGBQUAD c{static_cast<BYTE>(b), static_cast<BYTE>(g), static_cast<BYTE>(r), 0};
    for (unsigned y = 0; y < size; ++y)
        for (unsigned x = 0; x < size; ++x)
            image->setPixelColor(x, y, &c);
    return image;
}

RGBQUAD pixel(const fipImage& image, int x, int topY) {
    RGBQUAD p{};
    image.getPixelColor(x, image.getHeight() - 1 - topY, &p); // FreeImage rows run bottom-up
    return p;
}

// A profile folder, and a program folder holding small button sets to seed from.
class TreeTest : public ::testing::Test {
protected:
    TreeTest() : m_profile({m_dir / "profile", m_dir / "tmp", m_dir / "program"}, QXKeyTable::names()) {
        fs::create_directories(m_dir / "tmp");
        QXProfile seeder({m_dir / "x", m_dir / "tmp", m_dir / "program"}, QXKeyTable::names());

        QXPropertyNode defaults(u"default_buttons");
        defaults.addChild(u"DisplayName", u"Default buttons");
        auto buttons = defaults.addChild(u"Buttons");
        buttons->addChild(u"Escape")->addChild(u"Image", u"Escape", solid(200, 0, 0));
        buttons->addChild(u"F1")->addChild(u"Image", u"F1", solid(0, 200, 0, 96));
        seeder.writeItem(m_dir / "program", defaults, QXProfile::WriteMode::Export);

        QXPropertyNode control(u"control_buttons");
        control.addChild(u"Type", u"Group");
        control.addChild(u"DisplayName", u"Lock indicators");
        auto caps = control.addChild(u"ItemOrder")->addChild(u"control_buttons_caps_lock");
        auto condition = caps->addChild(u"Conditions")->addChild(u"{1}");
        condition->addChild(u"Type", u"lock");
        condition->addChild(u"Modifiers", u"l");
        caps->addChild(u"Buttons")->addChild(u"CapsLock")->addChild(u"Image", u"CapsLock",
                                                                     solid(0, 0, 200));
        seeder.writeItem(m_dir / "program", control, QXProfile::WriteMode::Export);
    }

    // Start-up: the profile read, the fixed items made sure of.
    QXLayerTree start() {
        QXLayerTree tree;
        QXPropertyNode::Ptr root = m_profile.load();
        tree.loadFrom(*root->findChild(u"Layers"));
        tree.ensureFixedItems(m_profile);
        return tree;
    }

    // Exit: the profile written.
    void exit(const QXLayerTree& tree) {
        QXPropertyNode root(u"root");
        tree.saveTo(root);
        ASSERT_TRUE(m_profile.save(root));
    }

    fs::path inProfile(const std::string& relative) { return m_dir / "profile" / "Layers" / relative; }

    TempDir m_dir;
    QXProfile m_profile;
};

std::vector<std::u16string> ids(const QXItemList& list) {
    std::vector<std::u16string> out;
    for (const auto& item : list)
        out.push_back(item->identifier());
    return out;
}

TEST_F(TreeTest, FirstStartCreatesTheFixedItemsAndExitCopiesTheShippedPictures) {
    QXLayerTree tree = start();
    EXPECT_EQ(ids(tree.topLevel()), (std::vector<std::u16string>{u"user_layers", u"system_layers"}));
    auto user = tree.userLayers();
    auto system = tree.systemLayers();
    EXPECT_EQ(user->displayName(), u"Layers");
    EXPECT_EQ(system->displayName(), u"Background");
    EXPECT_EQ(user->flags() & 0x0F, QXLayersItem::kFixed | QXLayersItem::kUserLayers);
    EXPECT_EQ(system->flags() & 0x0F, QXLayersItem::kSystemLayers);
    EXPECT_EQ(ids(user->children()), (std::vector<std::u16string>{u"default_buttons"}));
    EXPECT_EQ(ids(system->children()), (std::vector<std::u16string>{u"control_buttons"}));
    ASSERT_EQ(user->conditions().size(), 1u);
    EXPECT_EQ(user->conditions()[0]->type(), u"sys_condition");

    exit(tree);
    EXPECT_TRUE(fs::exists(inProfile("Group.plist")));
    EXPECT_EQ(readFile(inProfile("user_layers/default_buttons/Escape.png")),
              readFile(m_dir / "program" / "default_buttons" / "Escape.png"))
        << "a seeded picture that was never shown is copied, not encoded again";
    EXPECT_TRUE(fs::exists(inProfile("system_layers/control_buttons/control_buttons_caps_lock/CapsLock.png")));

    // The second start finds everything and seeds nothing again.
    QXLayerTree again = start();
    EXPECT_EQ(ids(again.userLayers()->children()), (std::vector<std::u16string>{u"default_buttons"}));
    EXPECT_EQ(again.userLayers()->conditions().size(), 1u) << "the keyboard condition is not stored";
    EXPECT_EQ(again.userLayers()->flags() & 0x0F, QXLayersItem::kFixed | QXLayersItem::kUserLayers)
        << "fixed flags come back at every start";
    auto caps = again.find(u"control_buttons_caps_lock").dynamicCast<QXLayer>();
    ASSERT_TRUE(caps);
    ASSERT_EQ(caps->conditions().size(), 1u);
    EXPECT_EQ(static_cast<QXLockCondition&>(*caps->conditions()[0]).mask(), 0x10u);
}

TEST_F(TreeTest, AMissingButtonSetIsAddedWithoutTouchingTheRest) {
    QXLayerTree tree = start();
    auto mine = createLayer(tree.userLayers()->children(), tree.userLayers()->children()[0]);
    mine->getButton(kF1)->keystroke = u"mine";
    removeItem(tree.userLayers()->children(), tree.userLayers()->children()[0]);
    exit(tree);

    QXLayerTree again = start();
    EXPECT_EQ(ids(again.userLayers()->children()),
              (std::vector<std::u16string>{mine->identifier(), u"default_buttons"}));
    auto mineAgain = again.find(mine->identifier()).dynamicCast<QXLayer>();
    ASSERT_TRUE(mineAgain);
    EXPECT_EQ(mineAgain->getButton(kF1)->keystroke, u"mine");
}

TEST_F(TreeTest, PicturesAreDecodedOnlyWhileShownAndNeverShownOnesAreNotTouched) {
    exit(start());
    const fs::path escapeFile = inProfile("user_layers/default_buttons/Escape.png");
    struct stat before {};
    ::stat(escapeFile.c_str(), &before);

    const auto decodedBefore = QXImage::decodeCount();
    QXLayerTree tree = start();
    EXPECT_EQ(QXImage::decodeCount(), decodedBefore) << "reading the profile decodes nothing";

    auto defaults = tree.find(u"default_buttons").dynamicCast<QXLayer>();
    ASSERT_TRUE(defaults);
    QXButton* f1 = defaults->getButton(kF1);
    f1->show();
    EXPECT_EQ(QXImage::decodeCount(), decodedBefore + 1);
    ASSERT_TRUE(f1->image && f1->image->isLoaded());
    EXPECT_EQ(f1->image->getWidth(), 48u) << "a 96 x 96 picture is scaled to the key";
    f1->hide();
    EXPECT_FALSE(f1->image->isLoaded()) << "an unchanged picture is released when hidden";

    defaults->setPicture(kF1, solid(1, 2, 3));
    defaults->getButton(kF1)->hide();
    ASSERT_TRUE(defaults->getButton(kF1)->image);
    EXPECT_TRUE(defaults->getButton(kF1)->image->isLoaded()) << "unsaved pixels stay";
    exit(tree);

    struct stat after {};
    ::stat(escapeFile.c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    QXImage saved;
    ASSERT_TRUE(saved.loadFile(inProfile("user_layers/default_buttons/F1.png")));
    EXPECT_EQ(pixel(saved, 4, 4).rgbBlue, 3);
}

TEST_F(TreeTest, ProfileListingAnItemWhoseFolderIsGoneKeepsAnEmptyLayer) {
    exit(start());
    fs::remove_all(inProfile("user_layers/default_buttons"));
    QXLayerTree tree = start();
    auto defaults = tree.find(u"default_buttons").dynamicCast<QXLayer>();
    ASSERT_TRUE(defaults) << "still a layer";
    EXPECT_FALSE(defaults->getButton(kEscape)->isAssigned());
}

TEST(LayoutPicture, AnEmptyLayerGivesTheTemplateWithBlackSquares) {
    fipImage templ;
    ASSERT_TRUE(QXLayoutPicture::loadTemplate(templ));
    QXLayer empty(u"e");
    QXImage picture = QXLayoutPicture::compose(empty);
    ASSERT_EQ(picture.getWidth(), 1312u);
    ASSERT_EQ(picture.getHeight(), 376u);
    EXPECT_EQ(picture.getBitsPerPixel(), 24u);
    QXLayoutPicture::Square escape = QXLayoutPicture::keySquare(kEscape);
    EXPECT_EQ(escape.left, 50);
    EXPECT_EQ(escape.top, 22);
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i) {
        auto s = QXLayoutPicture::keySquare(i);
        RGBQUAD a = pixel(picture, s.left, s.top), b = pixel(picture, s.left + 47, s.top + 47);
        EXPECT_EQ(a.rgbRed + a.rgbGreen + a.rgbBlue + b.rgbRed + b.rgbGreen + b.rgbBlue, 0) << i;
    }
}

TEST(LayoutPicture, ComposedPicturesComeBackAndPaintedSquaresBecomeButtons) {
    QXLayer layer(u"l");
    layer.getButton(kEscape)->image = solid(250, 0, 0);
    layer.getButton(kEscape)->keystroke = u"x";
    auto view = makeQX<QXKeyViewInstance>();
    layer.setView(kF1, view);
    QXImage picture = QXLayoutPicture::compose(layer);
    auto s = QXLayoutPicture::keySquare(kEscape);
    EXPECT_EQ(pixel(picture, s.left + 10, s.top + 10).rgbRed, 250);

    // Paint the Escape square green, the Caps Lock square white, the F1 square blue.
    auto paint = [&](size_t key, RGBQUAD colour) {
        auto sq = QXLayoutPicture::keySquare(key);
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 48; ++x)
                picture.setPixelColor(sq.left + x, picture.getHeight() - 1 - (sq.top + y), &colour);
    };
    paint(kEscape, RGBQUAD{0, 255, 0, 0});
    paint(kCapsLock, RGBQUAD{255, 255, 255, 0});
    paint(kF1, RGBQUAD{255, 0, 0, 0});
    ASSERT_TRUE(QXLayoutPicture::takeBack(layer, picture));

    EXPECT_EQ(pixel(*layer.getButton(kEscape)->image, 5, 5).rgbGreen, 255);
    EXPECT_TRUE(layer.getButton(kEscape)->image->changed());
    QXButton* caps = layer.getButton(kCapsLock);
    ASSERT_TRUE(caps->image) << "a painted black square gives the key a picture";
    EXPECT_EQ(caps->actionCode, QXKeyTable::key(kCapsLock).actionCode);
    EXPECT_TRUE(caps->image->changed());
    EXPECT_FALSE(layer.getButton(kF1)->image) << "a key with a view is left alone";
    EXPECT_TRUE(layer.getButton(kF1)->view);
    EXPECT_FALSE(layer.getButton(2)->isAssigned()) << "an untouched black square stays empty";

    fipImage small(FIT_BITMAP, 100, 100, 24);
    EXPECT_FALSE(QXLayoutPicture::takeBack(layer, small));
}

TEST(LayoutPicture, PicturesOfAnyDepthOrSizeComposeAndMissingOnesLeaveTheSquareBlack) {
    TempDir dir;
    QXLayer layer(u"l");
    fipImage grey(FIT_BITMAP, 30, 30, 8); // palette picture, not the key size
    for (unsigned i = 0; i < 256; ++i)
        grey.getPalette()[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    for (unsigned y = 0; y < 30; ++y)
        std::fill_n(grey.getScanLine(y), 30, BYTE(180));
    ASSERT_TRUE(grey.save((dir / "grey.png").c_str()));
    layer.getButton(kEscape)->image = QXImage::fromFile(dir / "grey.png");
    layer.getButton(kF1)->image = QXImage::fromFile(dir / "missing.png");
    fipImage clearWhite(FIT_BITMAP, 48, 48, 32); // white stored under full transparency
    for (unsigned y = 0; y < 48; ++y)
        std::fill_n(reinterpret_cast<uint32_t*>(clearWhite.getScanLine(y)), 48, 0x00FFFFFFu);
    layer.getButton(kCapsLock)->image = makeQX<QXImage>(clearWhite);

    layer.getButton(kF1)->show(); // a missing file shows nothing and breaks nothing
    EXPECT_FALSE(layer.getButton(kF1)->image->isLoaded());
    QXImage picture = QXLayoutPicture::compose(layer);
    ASSERT_TRUE(picture.isLoaded());
    auto escape = QXLayoutPicture::keySquare(kEscape), f1 = QXLayoutPicture::keySquare(kF1);
    EXPECT_EQ(pixel(picture, escape.left + 24, escape.top + 24).rgbGreen, 180);
    EXPECT_EQ(pixel(picture, f1.left + 24, f1.top + 24).rgbGreen, 0);
    auto caps = QXLayoutPicture::keySquare(kCapsLock);
    EXPECT_EQ(pixel(picture, caps.left + 24, caps.top + 24).rgbGreen, 0)
        << "transparent pixels show the key's black, not the colour under them";
    EXPECT_FALSE(layer.getButton(kEscape)->image->isLoaded())
        << "composing does not keep pictures decoded";
}

} // namespace
