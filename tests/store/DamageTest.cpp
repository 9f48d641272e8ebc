// A profile damaged every way a crash, a full disk or a hostile hand can damage it
// goes through load and save without losing a picture, an item or a file that was there.
#include "StoreTestUtil.h"
#include "platform/QXLog.h"
#include "platform/QXText.h"
#include "store/QXImage.h"
#include "store/QXProfile.h"
#include "support/QXTestSupport.h"

#include <csignal>
#include <gtest/gtest.h>
#include <map>
#include <sys/resource.h>

namespace fs = std::filesystem;
using namespace storetest;
using qxtest::readFile;
using qxtest::TempDir;
using qxtest::writeFile;

namespace {

const std::u16string kA1 = u"{A1000000-0000-0000-0000-000000000000}";
const std::u16string kA2 = u"{A2000000-0000-0000-0000-000000000000}";
const std::u16string kA3 = u"{A3000000-0000-0000-0000-000000000000}";
const std::u16string kA4 = u"{A4000000-0000-0000-0000-000000000000}";
const std::u16string kG1 = u"{G1000000-0000-0000-0000-000000000000}";
const std::u16string kLink = u"{L1000000-0000-0000-0000-000000000000}";

// Every regular file below the folder, by path, with its content; links not followed.
std::map<fs::path, std::string> inventory(const fs::path& folder) {
    std::map<fs::path, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && !entry.is_symlink())
            files[entry.path()] = readFile(entry.path());
    return files;
}

std::string missingOrChanged(const std::map<fs::path, std::string>& before) {
    std::string report;
    for (const auto& [path, content] : before) {
        if (!fs::exists(path))
            report += "lost " + path.string() + "\n";
        else if (readFile(path) != content)
            report += "changed " + path.string() + "\n";
    }
    return report;
}

class DamagedProfile : public ::testing::Test {
protected:
    DamagedProfile() {
        m_observer = QXLog::addObserver([this](QXLogLevel, const char*, std::string_view text) {
            m_warnings += std::string(text) + "\n";
        });
    }
    ~DamagedProfile() override { QXLog::removeObserver(m_observer); }

    QXProfileFolders folders() { return {m_dir / "p", m_dir / "tmp", m_dir / "program"}; }
    fs::path layers() { return m_dir / "p" / "Layers"; }
    fs::path user() { return layers() / "user_layers"; }

    QXPropertyNode::Ptr layerWithPicture(const std::u16string& id, const char16_t* key,
                                         unsigned shade) {
        const fs::path png = m_dir / "src" / (toUtf8(id) + ".png");
        writePng(png, shade, 0, 0);
        auto node = layerNode(id, u"layer");
        auto picture = QXImage::fromFile(png);
        picture->setChanged(true);
        node->addChild(u"Buttons")->addChild(key)->addChild(u"Image", key, picture);
        return node;
    }

    static QXPropertyNode::Ptr group(QXPropertyNode& order, const std::u16string& id) {
        auto node = order.addChild(id);
        node->addChild(u"Type", u"Group");
        node->addChild(u"DisplayName", u"group");
        return node;
    }

    // user_layers: A1 (Escape), A2 (F1), G1 { A3 (F2) }; system_layers: A4 (A).
    QXPropertyNode::Ptr sampleRoot() {
        auto root = makeQX<QXPropertyNode>(u"root");
        auto top = root->addChild(u"Layers");
        top->addChild(u"Type", u"Group");
        auto order = top->addChild(u"ItemOrder");
        auto userOrder = group(*order, u"user_layers")->addChild(u"ItemOrder");
        userOrder->addChild(layerWithPicture(kA1, u"Escape", 10));
        userOrder->addChild(layerWithPicture(kA2, u"F1", 20));
        group(*userOrder, kG1)->addChild(u"ItemOrder")->addChild(layerWithPicture(kA3, u"F2", 30));
        group(*order, u"system_layers")
            ->addChild(u"ItemOrder")
            ->addChild(layerWithPicture(kA4, u"A", 40));
        root->addChild(u"Device")->addChild(u"Brightness", u"5");
        return root;
    }

    TempDir m_dir;
    std::string m_warnings;
    int m_observer = 0;
};

TEST_F(DamagedProfile, EveryDamageSurvivesTwoSavesAndNothingOnDiskIsLost) {
    QXProfile profile(folders(), keyNames());
    ASSERT_TRUE(profile.save(*sampleRoot()));

    // A folder in place of a layer file.
    fs::remove(user() / toPath(kA1) / "Layer.plist");
    writeFile(user() / toPath(kA1) / "Layer.plist" / "x", "a user's file");
    // A group file cut short, a layer file with no dictionary, a lost group file.
    const std::string g1 = readFile(user() / toPath(kG1) / "Group.plist");
    writeFile(user() / toPath(kG1) / "Group.plist", g1.substr(0, g1.size() / 2));
    writeFile(user() / toPath(kA2) / "Layer.plist", "<plist/>");
    fs::remove(layers() / "system_layers" / "Group.plist");
    writeFile(m_dir / "p" / "Device.plist", "</x>");
    // A linked group whose target holds a folder the profile knows nothing of, and an
    // order that names one of the group's own files.
    writeFile(m_dir / "outside" / "Group.plist",
              "<plist><dict><key>DisplayName</key><string>elsewhere</string></dict></plist>");
    writeFile(m_dir / "outside" / "{VICTIM}" / "notes.txt", "not the profile's");
    fs::create_directory_symlink(m_dir / "outside", user() / toPath(kLink));
    writeFile(user() / "Group.plist",
              "<plist><dict><key>ItemOrder</key><array><string>" + toUtf8(kA1) +
                  "</string><string>" + toUtf8(kA2) + "</string><string>" + toUtf8(kG1) +
                  "</string><string>" + toUtf8(kLink) +
                  "</string><string>Group.plist</string></array></dict></plist>");

    std::map<fs::path, std::string> before = inventory(m_dir.path());
    for (auto it = before.begin(); it != before.end();)
        it = it->first.extension() == ".plist" ? before.erase(it) : std::next(it);
    before.erase(user() / toPath(kA1) / "Layer.plist" / "x"); // checked where it goes below
    before[m_dir / "outside" / "{VICTIM}" / "notes.txt"] = "not the profile's";

    for (int round = 0; round < 2; ++round) {
        QXPropertyNode::Ptr tree = profile.load();
        EXPECT_TRUE(profile.save(*tree)) << "round " << round << "\n" << m_warnings;
    }
    EXPECT_EQ(missingOrChanged(before), "");

    // What could not be read is kept beside its replacement.
    EXPECT_EQ(readFile(user() / toPath(kA1) / "Layer.plist.unreadable" / "x"), "a user's file");
    EXPECT_EQ(readFile(user() / toPath(kG1) / "Group.plist.unreadable"), g1.substr(0, g1.size() / 2));
    EXPECT_EQ(readFile(user() / toPath(kA2) / "Layer.plist.unreadable"), "<plist/>");
    EXPECT_EQ(readFile(m_dir / "p" / "Device.plist.unreadable"), "</x>");

    // Every item is still in the tree, with its pictures.
    QXPropertyNode::Ptr tree = profile.load();
    EXPECT_EQ(childNames(at(tree, u"Layers/ItemOrder/user_layers/ItemOrder")),
              (std::vector<std::u16string>{kA1, kA2, kG1, kLink}));
    for (const std::u16string& path :
         {u"user_layers/ItemOrder/" + kA1 + u"/Buttons/Escape/Image",
          u"user_layers/ItemOrder/" + kA2 + u"/Buttons/F1/Image",
          u"user_layers/ItemOrder/" + kG1 + u"/ItemOrder/" + kA3 + u"/Buttons/F2/Image",
          u"system_layers/ItemOrder/" + kA4 + u"/Buttons/A/Image"})
        EXPECT_TRUE(at(tree, u"Layers/ItemOrder/" + path)) << toUtf8(path);

    // Each repair was told, with what it did.
    EXPECT_NE(m_warnings.find("rebuilt from the 1 item folders"), std::string::npos) << m_warnings;
    EXPECT_NE(m_warnings.find("rebuilt from its 1 key pictures"), std::string::npos) << m_warnings;
    EXPECT_NE(m_warnings.find("kept the unreadable"), std::string::npos) << m_warnings;
    EXPECT_NE(m_warnings.find("\"Group.plist\", which is no item name"), std::string::npos)
        << m_warnings;
}

TEST_F(DamagedProfile, SaveThatFailsHalfwayDeletesNothingAndDropsNoItem) {
    QXProfile profile(folders(), keyNames());
    ASSERT_TRUE(profile.save(*sampleRoot()));
    const std::map<fs::path, std::string> before = inventory(m_dir / "p");

    // The user deletes A2 and gives A1 a new picture; the disk is full during the save.
    QXPropertyNode::Ptr tree = profile.load();
    auto userOrder = at(tree, u"Layers/ItemOrder/user_layers/ItemOrder");
    ASSERT_TRUE(userOrder && userOrder->removeChild(kA2));
    auto picture = at(userOrder, kA1 + u"/Buttons/Escape/Image")->image();
    ASSERT_TRUE(picture->loadSource());
    picture->setChanged(true);

    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit full = old;
    full.rlim_cur = 64;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &full);
    const bool saved = profile.save(*tree);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved) << "a failed save says so";
    EXPECT_EQ(missingOrChanged(before), "") << "a failed save leaves every file as it was";
    EXPECT_TRUE(picture->changed()) << "the picture is written again next time";

    // With room again, the next save writes everything and only then removes A2.
    ASSERT_TRUE(profile.save(*tree)) << m_warnings;
    EXPECT_FALSE(fs::exists(user() / toPath(kA2)));
    EXPECT_TRUE(fs::exists(user() / toPath(kA1) / "Escape.png"));
    EXPECT_TRUE(fs::exists(user() / toPath(kG1) / toPath(kA3) / "F2.png"));
    EXPECT_EQ(childNames(at(profile.load(), u"Layers/ItemOrder/user_layers/ItemOrder")),
              (std::vector<std::u16string>{kA1, kG1}));
}

} // namespace
