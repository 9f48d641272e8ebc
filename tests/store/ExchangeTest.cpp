#include "StoreTestUtil.h"
#include "platform/QXText.h"
#include "store/QXImage.h"
#include "store/QXProfile.h"
#include "support/QXTestSupport.h"

#include <gtest/gtest.h>
#include <zip.h>

namespace fs = std::filesystem;
using namespace storetest;
using qxtest::TempDir;
using qxtest::writeFile;

namespace {

class ExchangeTest : public ::testing::Test {
protected:
    ExchangeTest() : m_profile({m_dir / "profile", m_dir / "tmp", m_dir / "program"}, keyNames()) {
        fs::create_directories(m_dir / "tmp");
    }

    // A group holding two layers, the first with a picture that lives in the program
    // folder and was never decoded.
    QXPropertyNode::Ptr group() {
        writePng(m_dir / "program" / "seed" / "Escape.png", 10, 200, 30);
        auto node = makeQX<QXPropertyNode>(u"{AAAAAAAA-0000-0000-0000-000000000000}");
        node->addChild(u"Type", u"Group");
        node->addChild(u"DisplayName", u"Games");
        auto order = node->addChild(u"ItemOrder");
        auto second = order->addChild(layerNode(u"{BBBBBBBB-0000-0000-0000-000000000002}", u"Two"));
        auto first = order->addChild(layerNode(u"{BBBBBBBB-0000-0000-0000-000000000001}", u"One"));
        auto image = QXImage::fromFile(m_dir / "program" / "seed" / "Escape.png");
        second->addChild(u"Buttons")->addChild(u"Escape")->addChild(u"Image", u"Escape", image);
        first->addChild(u"Buttons")->addChild(u"F1")->addChild(u"Keystroke", u"hello");
        return node;
    }

    bool nothingImportedLeftIn(const fs::path& folder) {
        return fs::is_empty(folder);
    }

    TempDir m_dir;
    QXProfile m_profile;
};

TEST_F(ExchangeTest, ExportThenImportOfAGroupKeepsItsItemsAndGivesTheTopANewIdentifier) {
    QXPropertyNode::Ptr original = group();
    std::string error;
    ASSERT_TRUE(m_profile.exportItem(*original, m_dir / "games.layers", &error)) << error;
    EXPECT_TRUE(nothingImportedLeftIn(m_dir / "tmp")) << "the export's scratch folder is gone";
    EXPECT_FALSE(original->findChild(u"ItemOrder")->children()[0]
                     ->findChild(u"Buttons")->findChild(u"Escape")->findChild(u"Image")
                     ->image()->changed())
        << "an export leaves the pictures' marks alone";

    QXPropertyNode::Ptr imported = m_profile.importItem(m_dir / "games.layers", &error);
    ASSERT_TRUE(imported) << error;
    EXPECT_NE(imported->name(), original->name());
    EXPECT_EQ(imported->name().size(), 38u) << "a GUID in registry form";
    EXPECT_EQ(imported->name().front(), u'{');
    EXPECT_EQ(imported->childValue(u"DisplayName"), u"Games");
    EXPECT_EQ(childNames(imported->findChild(u"ItemOrder")),
              (std::vector<std::u16string>{u"{BBBBBBBB-0000-0000-0000-000000000002}",
                                           u"{BBBBBBBB-0000-0000-0000-000000000001}"}));
    auto image = at(imported, u"ItemOrder/{BBBBBBBB-0000-0000-0000-000000000002}/Buttons/"
                              u"Escape/Image");
    ASSERT_TRUE(image && image->image());
    EXPECT_TRUE(image->image()->changed()) << "imported pictures must reach the profile";
    ASSERT_TRUE(image->image()->loadSource());
    RGBQUAD pixel{};
    image->image()->getPixelColor(5, 5, &pixel);
    EXPECT_EQ(pixel.rgbGreen, 200);
    EXPECT_EQ(at(imported, u"ItemOrder/{BBBBBBBB-0000-0000-0000-000000000001}/Buttons/F1/"
                           u"Keystroke")->value(),
              u"hello");

    // The import's files stay until the save has copied the pictures.
    auto root = makeQX<QXPropertyNode>(u"root");
    root->addChild(u"Layers")->addChild(u"ItemOrder")->addChild(imported);
    ASSERT_TRUE(m_profile.save(*root));
    EXPECT_TRUE(fs::exists(m_dir / "profile" / "Layers" / toPath(imported->name()) /
                           "{BBBBBBBB-0000-0000-0000-000000000002}" / "Escape.png"));
}

TEST_F(ExchangeTest, ALayerExportsAsAnArchiveWhoseTopLevelIsTheLayerFolder) {
    auto layer = layerNode(u"{CCCCCCCC-0000-0000-0000-000000000000}", u"Solo");
    ASSERT_TRUE(m_profile.exportItem(*layer, m_dir / "solo.layers"));
    int error = 0;
    zip_t* archive = zip_open((m_dir / "solo.layers").c_str(), ZIP_RDONLY, &error);
    ASSERT_TRUE(archive);
    EXPECT_GE(zip_name_locate(archive, "Layer.plist", 0), 0);
    zip_close(archive);
    QXPropertyNode::Ptr back = m_profile.importItem(m_dir / "solo.layers");
    ASSERT_TRUE(back);
    EXPECT_FALSE(back->findChild(u"Type")) << "a layer is not a group";
    EXPECT_EQ(back->childValue(u"DisplayName"), u"Solo");
}

void makeZip(const fs::path& path,
             const std::vector<std::pair<std::string, std::string>>& entries,
             const std::string& linkName = {}) {
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_TRUE(archive);
    for (const auto& [name, content] : entries) {
        char* copy = static_cast<char*>(malloc(content.size() + 1));
        memcpy(copy, content.data(), content.size());
        zip_source_t* source = zip_source_buffer(archive, copy, content.size(), 1);
        zip_int64_t index = zip_file_add(archive, name.c_str(), source, ZIP_FL_OVERWRITE);
        ASSERT_GE(index, 0) << name;
        if (name == linkName)
            zip_file_set_external_attributes(archive, index, 0, ZIP_OPSYS_UNIX,
                                             (0120777u) << 16);
    }
    ASSERT_EQ(zip_close(archive), 0);
}

TEST_F(ExchangeTest, UnsafeOrUselessArchivesImportNothingAndWriteNothingOutside) {
    const std::string layerPlist = "<plist><dict><key>DisplayName</key><string>x</string>"
                                   "</dict></plist>";
    const fs::path victim = m_dir / "victim.txt";
    struct Case {
        std::string what;
        std::function<void(const fs::path&)> make;
    };
    std::vector<Case> cases = {
        {"not an archive", [](const fs::path& p) { writeFile(p, "hello, I am text"); }},
        {"truncated",
         [&](const fs::path& p) {
             makeZip(p, {{"Layer.plist", layerPlist}, {"F1.png", std::string(5000, 'x')}});
             fs::resize_file(p, fs::file_size(p) / 2);
         }},
        {"neither item file", [](const fs::path& p) { makeZip(p, {{"readme.txt", "hi"}}); }},
        {"climbs out",
         [&](const fs::path& p) {
             makeZip(p, {{"Layer.plist", layerPlist}, {"../../victim.txt", "overwritten"}});
         }},
        {"absolute",
         [&](const fs::path& p) {
             makeZip(p, {{"Layer.plist", layerPlist}, {victim.string(), "overwritten"}});
         }},
        {"link",
         [&](const fs::path& p) {
             makeZip(p, {{"Layer.plist", layerPlist}, {"Escape.png", victim.string()}},
                     "Escape.png");
         }},
        {"an entry larger than a profile holds",
         [&](const fs::path& p) {
             makeZip(p, {{"Layer.plist", layerPlist}, {"Escape.png", std::string(65u << 20, 0)}});
         }},
    };
    for (const Case& c : cases) {
        writeFile(victim, "original");
        const fs::path archive = m_dir / "bad.layers";
        c.make(archive);
        std::string error;
        EXPECT_FALSE(m_profile.importItem(archive, &error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what << ": the caller is told why";
        EXPECT_EQ(qxtest::readFile(victim), "original") << c.what;
        EXPECT_TRUE(nothingImportedLeftIn(m_dir / "tmp")) << c.what;
    }

    // An order naming one of the group's own files is read without that name, so the
    // save cannot put a folder where the group's file belongs.
    const fs::path archive = m_dir / "named.layers";
    makeZip(archive, {{"Group.plist", "<plist><dict><key>ItemOrder</key><array><string>"
                                      "Group.plist</string><string>{X}</string></array>"
                                      "</dict></plist>"},
                      {"{X}/Layer.plist", layerPlist}});
    QXPropertyNode::Ptr node = m_profile.importItem(archive);
    ASSERT_TRUE(node);
    EXPECT_EQ(childNames(node->findChild(u"ItemOrder")), (std::vector<std::u16string>{u"{X}"}));
}

} // namespace
