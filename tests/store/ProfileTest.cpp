#include "StoreTestUtil.h"
#include "platform/QXFolders.h"
#include "platform/QXText.h"
#include "store/QXImage.h"
#include "store/QXProfile.h"
#include "store/QXPropertyList.h"
#include "support/QXTestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace storetest;
using qxtest::readFile;
using qxtest::TempDir;
using qxtest::writeFile;

namespace {

class ProfileTest : public ::testing::Test {
protected:
    QXProfileFolders foldersAt(const fs::path& profile) {
        return {profile, m_dir / "tmp", m_dir / "program"};
    }

    // A tree as the layer model hands it over: user_layers with two layers, an empty
    // system_layers, device settings and one application.
    QXPropertyNode::Ptr sampleRoot() {
        writePng(m_dir / "src" / "red.png", 255, 0, 0);
        writePng(m_dir / "src" / "blue.png", 0, 0, 255);
        auto root = makeQX<QXPropertyNode>(u"root");
        auto layers = root->addChild(u"Layers");
        layers->addChild(u"DisplayName", u"root");
        layers->addChild(u"Type", u"Group");
        auto order = layers->addChild(u"ItemOrder");
        auto user = order->addChild(u"user_layers");
        user->addChild(u"Type", u"Group");
        user->addChild(u"DisplayName", u"Layers");
        user->addChild(u"Disabled", u"false");
        auto userOrder = user->addChild(u"ItemOrder");

        auto first = userOrder->addChild(layerNode(u"{11111111-0000-0000-0000-000000000001}", u"Ünïcode layer"));
        auto buttons = first->addChild(u"Buttons");
        auto escape = buttons->addChild(u"Escape");
        auto red = QXImage::fromFile(m_dir / "src" / "red.png");
        red->setChanged(true);
        escape->addChild(u"Image", u"Escape", red);
        escape->addChild(u"Keystroke", u"é");
        auto f1 = buttons->addChild(u"F1");
        f1->addChild(u"ScanCode", u"059");
        f1->addChild(u"ActionCode", u"44");
        auto space = buttons->addChild(u"Spacebar");
        auto blue = QXImage::fromFile(m_dir / "src" / "blue.png");
        blue->setChanged(true);
        space->addChild(u"Image", u"Spacebar", blue);

        userOrder->addChild(layerNode(u"default_buttons", u"Default"));
        auto system = order->addChild(u"system_layers");
        system->addChild(u"Type", u"Group");
        system->addChild(u"DisplayName", u"Background");

        auto device = root->addChild(u"Device");
        device->addChild(u"Brightness", u"5");
        device->addChild(u"AutoBrightness", u"true");
        auto apps = root->addChild(u"Applications");
        apps->addChild(u"gedit")->addChild(u"Path", u"/usr/bin/gedit");
        return root;
    }

    fs::path layerFolder(const fs::path& profile) {
        return profile / "Layers" / "user_layers" / "{11111111-0000-0000-0000-000000000001}";
    }

    TempDir m_dir;
};

TEST_F(ProfileTest, ProfileReadFromOneFolderAndWrittenToAnotherReadsBackEqual) {
    QXProfile a(foldersAt(m_dir / "a"), keyNames());
    ASSERT_TRUE(a.save(*sampleRoot()));
    QXPropertyNode::Ptr first = a.load();
    ASSERT_TRUE(at(first, u"Layers/ItemOrder/user_layers/ItemOrder"));

    QXProfile b(foldersAt(m_dir / "b"), keyNames());
    markPicturesChanged(*first); // a new profile must get every picture
    ASSERT_TRUE(b.save(*first));
    QXPropertyNode::Ptr second = b.load();
    EXPECT_EQ(difference(*first, *second), "");
    EXPECT_EQ(at(second, u"Device/Brightness")->value(), u"5");
    EXPECT_EQ(at(second, u"Applications/gedit/Path")->value(), u"/usr/bin/gedit");
    EXPECT_EQ(childNames(at(second, u"Layers/ItemOrder/user_layers/ItemOrder")),
              (std::vector<std::u16string>{u"{11111111-0000-0000-0000-000000000001}",
                                           u"default_buttons"}));
    auto escape = at(second, u"Layers/ItemOrder/user_layers/ItemOrder/"
                             u"{11111111-0000-0000-0000-000000000001}/Buttons/Escape");
    ASSERT_TRUE(escape);
    EXPECT_EQ(escape->childValue(u"Keystroke"), u"é");
    ASSERT_TRUE(escape->findChild(u"Image"));
    QXPtr<QXImage> picture = escape->findChild(u"Image")->image();
    EXPECT_FALSE(picture->isLoaded()) << "pictures are referenced, not decoded, when read";
    EXPECT_EQ(picture->sourcePath(), layerFolder(m_dir / "b") / "Escape.png");
}

TEST_F(ProfileTest, OnlyPicturesMarkedChangedAreWrittenAndTheyAreCopiedNotReencoded) {
    QXProfile a(foldersAt(m_dir / "a"), keyNames());
    ASSERT_TRUE(a.save(*sampleRoot()));
    EXPECT_EQ(readFile(layerFolder(m_dir / "a") / "Escape.png"), readFile(m_dir / "src" / "red.png"))
        << "a picture that was never decoded is copied byte for byte";

    QXPropertyNode::Ptr tree = a.load();
    QXProfile b(foldersAt(m_dir / "b"), keyNames());
    ASSERT_TRUE(b.save(*tree));
    EXPECT_TRUE(fs::exists(layerFolder(m_dir / "b") / "Layer.plist"));
    EXPECT_FALSE(fs::exists(layerFolder(m_dir / "b") / "Escape.png"))
        << "an unchanged picture is not written";

    // Saving the same profile again leaves an unchanged picture's file alone.
    struct stat before {}, after {};
    ::stat((layerFolder(m_dir / "a") / "Escape.png").c_str(), &before);
    ASSERT_TRUE(a.save(*tree));
    ::stat((layerFolder(m_dir / "a") / "Escape.png").c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
}

TEST_F(ProfileTest, ChangedPictureInMemoryIsEncodedAndItsMarkCleared) {
    QXProfile a(foldersAt(m_dir / "a"), keyNames());
    ASSERT_TRUE(a.save(*sampleRoot()));
    QXPropertyNode::Ptr tree = a.load();
    auto image = at(tree, u"Layers/ItemOrder/user_layers/ItemOrder/"
                          u"{11111111-0000-0000-0000-000000000001}/Buttons/Spacebar/Image")
                     ->image();
    ASSERT_TRUE(image->loadSource());
    image->setSize(FIT_BITMAP, 48, 48, 24); // all black now
    image->setChanged(true);
    ASSERT_TRUE(a.save(*tree));
    EXPECT_FALSE(image->changed());
    QXImage back;
    ASSERT_TRUE(back.loadFile(layerFolder(m_dir / "a") / "Spacebar.png"));
    RGBQUAD pixel{};
    back.getPixelColor(10, 10, &pixel);
    EXPECT_EQ(pixel.rgbBlue, 0) << "the edited pixels were written, not the old file";
}

TEST_F(ProfileTest, PruningRemovesExactlyTheFoldersNoLongerInTheTree) {
    const fs::path profile = m_dir / "p";
    QXProfile p(foldersAt(profile), keyNames());
    ASSERT_TRUE(p.save(*sampleRoot()));
    fs::create_directories(profile / "Layers" / "deleted_top" / "x");
    fs::create_directories(profile / "Layers" / "user_layers" / "deleted_inner");
    writeFile(profile / "Layers" / "user_layers" / "notes.txt", "files are not items");

    QXPropertyNode::Ptr tree = p.load();
    at(tree, u"Layers/ItemOrder/user_layers/ItemOrder")->removeChild(u"default_buttons");
    ASSERT_TRUE(p.save(*tree));

    EXPECT_FALSE(fs::exists(profile / "Layers" / "deleted_top"));
    EXPECT_FALSE(fs::exists(profile / "Layers" / "user_layers" / "deleted_inner"));
    EXPECT_FALSE(fs::exists(profile / "Layers" / "user_layers" / "default_buttons"));
    EXPECT_TRUE(fs::exists(profile / "Layers" / "user_layers" / "notes.txt"));
    EXPECT_TRUE(fs::exists(layerFolder(profile) / "Escape.png"));
    EXPECT_TRUE(fs::exists(profile / "Layers" / "system_layers" / "Group.plist"));
}

TEST_F(ProfileTest, DamagedGroupFileIsKeptAsideAndItsItemsAreNotLost) {
    const fs::path profile = m_dir / "p";
    QXProfile p(foldersAt(profile), keyNames());
    ASSERT_TRUE(p.save(*sampleRoot()));
    writeFile(profile / "Layers" / "Group.plist", "<plist><dict><key>Item");

    QXPropertyNode::Ptr tree = p.load();
    ASSERT_EQ(p.unreadableFiles().size(), 1u);
    EXPECT_EQ(childNames(at(tree, u"Layers/ItemOrder")),
              (std::vector<std::u16string>{u"system_layers", u"user_layers"}))
        << "items come back from their folders, in name order";
    ASSERT_TRUE(p.save(*tree));

    EXPECT_EQ(readFile(profile / "Layers" / "Group.plist.unreadable"), "<plist><dict><key>Item");
    EXPECT_TRUE(fs::exists(layerFolder(profile) / "Escape.png")) << "pruning spared the items";
    EXPECT_TRUE(loadPropertyList(profile / "Layers" / "Group.plist", u"x"));
}

TEST_F(ProfileTest, DamagedLayerFileKeepsTheLayersPictures) {
    const fs::path profile = m_dir / "p";
    QXProfile p(foldersAt(profile), keyNames());
    ASSERT_TRUE(p.save(*sampleRoot()));
    writeFile(layerFolder(profile) / "Layer.plist", std::string("\0\0garbage", 9));
    writeFile(profile / "Layers" / "Group.plist.unreadable", "an earlier accident");

    QXPropertyNode::Ptr tree = p.load();
    auto buttons = at(tree, u"Layers/ItemOrder/user_layers/ItemOrder/"
                            u"{11111111-0000-0000-0000-000000000001}/Buttons");
    ASSERT_TRUE(buttons);
    EXPECT_EQ(childNames(buttons), (std::vector<std::u16string>{u"Escape", u"Spacebar"}));
    EXPECT_TRUE(buttons->findChild(u"Escape")->findChild(u"Image"));
    ASSERT_TRUE(p.save(*tree));
    EXPECT_EQ(readFile(layerFolder(profile) / "Layer.plist.unreadable"),
              std::string("\0\0garbage", 9));
    EXPECT_EQ(readFile(profile / "Layers" / "Group.plist.unreadable"), "an earlier accident")
        << "an earlier kept file is never overwritten";
}

TEST_F(ProfileTest, ItemIdentifiersThatLeaveTheFolderAreDropped) {
    const fs::path profile = m_dir / "p";
    writeFile(profile / "Layers" / "Group.plist",
              "<plist><dict><key>ItemOrder</key><array><string>../../outside</string>"
              "<string>/abs</string><string>..</string><string>fine</string></array>"
              "</dict></plist>");
    writeFile(profile / "Layers" / "fine" / "Layer.plist", "<plist><dict/></plist>");
    writeFile(m_dir / "outside" / "Layer.plist",
              "<plist><dict><key>DisplayName</key><string>secret</string></dict></plist>");

    QXProfile p(foldersAt(profile), keyNames());
    QXPropertyNode::Ptr tree = p.load();
    EXPECT_EQ(childNames(at(tree, u"Layers/ItemOrder")), (std::vector<std::u16string>{u"fine"}));

    auto evil = at(tree, u"Layers/ItemOrder")->addChild(u"../escaped");
    evil->addChild(u"DisplayName", u"x");
    p.save(*tree);
    EXPECT_FALSE(fs::exists(profile / "escaped"));
    EXPECT_TRUE(fs::exists(m_dir / "outside" / "Layer.plist"));
}

TEST_F(ProfileTest, FirstSaveOfAMissingProfileCreatesAPrivateFolder) {
    const fs::path profile = m_dir / "new" / "TesseraQuadrix";
    QXProfile p(foldersAt(profile), keyNames());
    QXPropertyNode::Ptr tree = p.load();
    EXPECT_EQ(at(tree, u"Layers/Type")->value(), u"Group");
    EXPECT_FALSE(tree->findChild(u"Device"));
    EXPECT_TRUE(p.unreadableFiles().empty());
    at(tree, u"Layers")->addChild(u"DisplayName", u"root");
    ASSERT_TRUE(p.save(*tree));
    EXPECT_TRUE(fs::exists(profile / "Layers" / "Group.plist"));
    struct stat st {};
    ::stat(profile.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(ProfileTest, DeepPathsWork) {
    fs::path profile = m_dir.path();
    while (profile.native().size() < 700)
        profile /= std::string(60, 'd');
    QXProfile p(foldersAt(profile), keyNames());
    ASSERT_TRUE(p.save(*sampleRoot()));
    QXPropertyNode::Ptr tree = p.load();
    EXPECT_TRUE(at(tree, u"Layers/ItemOrder/user_layers/ItemOrder/"
                         u"{11111111-0000-0000-0000-000000000001}/Buttons/Escape/Image"));
}

TEST_F(ProfileTest, DamagedDeviceFileIsKeptWhenTheSettingsAreWrittenAgain) {
    const fs::path profile = m_dir / "p";
    writeFile(profile / "Device.plist", "<plist><dict><key>Brightness</key>");
    QXProfile p(foldersAt(profile), keyNames());
    QXPropertyNode::Ptr tree = p.load();
    EXPECT_FALSE(tree->findChild(u"Device"));
    tree->addChild(u"Device")->addChild(u"Brightness", u"3");
    ASSERT_TRUE(p.save(*tree));
    EXPECT_TRUE(fs::exists(profile / "Device.plist.unreadable"));
    EXPECT_EQ(at(loadPropertyList(profile / "Device.plist", u"Device"), u"Brightness")->value(),
              u"3");
}

TEST(Folders, TemporaryFolderIsPrivateAndNeverALink) {
    TempDir dir;
    qxtest::ScopedEnv runtime("XDG_RUNTIME_DIR", (dir / "run").string());
    auto folder = QXFolders::temporaryFolder();
    ASSERT_TRUE(folder);
    EXPECT_EQ(*folder, dir / "run" / "TesseraQuadrix");
    struct stat st {};
    ::lstat(folder->c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    fs::remove(*folder);
    fs::create_directories(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", *folder);
    EXPECT_FALSE(QXFolders::temporaryFolder()) << "a planted link is refused";
}

} // namespace
