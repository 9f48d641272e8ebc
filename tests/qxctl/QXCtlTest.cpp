#include "app/QXSingleInstance.h"
#include "model/QXKeyTable.h"
#include "model/QXLayerTree.h"
#include "platform/QXText.h"
#include "store/QXProfile.h"
#include "support/QXXvfb.h"
#include "store/QXImage.h"
#include "store/QXPropertyList.h"
#include "support/QXTestSupport.h"

#include <gtest/gtest.h>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;
using qxtest::ProgramResult;
using qxtest::readFile;
using qxtest::TempDir;

namespace {

const std::string kMediaGroup = "{6C1F7C52-1D3A-4E55-9C0B-2F0D4B1B8A01}";

class QXCtlTest : public ::testing::Test {
protected:
    QXCtlTest()
        : m_runtime("XDG_RUNTIME_DIR", (m_dir / "run").string()),
          m_config("XDG_CONFIG_HOME", (m_dir / "config").string()) {
        fs::create_directories(m_dir / "run");
        fs::copy(fs::path(QX_SOURCE_DIR) / "samples" / "profile", m_dir / "profile",
                 fs::copy_options::recursive);
    }

    ProgramResult qxctl(std::vector<std::string> args, bool withProfile = true) {
        std::vector<std::string> argv = {std::string(QX_PROGRAM_DIR) + "/qxctl"};
        if (withProfile) {
            argv.push_back("--profile");
            argv.push_back((m_dir / "profile").string());
        }
        argv.insert(argv.end(), args.begin(), args.end());
        return qxtest::runProgram(argv);
    }

    static std::vector<std::string> lines(const std::string& text) {
        std::vector<std::string> out;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            out.push_back(line);
        return out;
    }

    TempDir m_dir;
    qxtest::ScopedEnv m_runtime;
    qxtest::ScopedEnv m_config;
};

TEST_F(QXCtlTest, KeysPrintsOneLinePerKey) {
    ProgramResult r = qxctl({"keys"}, false);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    auto rows = lines(r.out);
    ASSERT_EQ(rows.size(), 113u);
    EXPECT_EQ(rows[0].rfind("0\tEscape\tEsc\t0x1B\t0x01\t99\t8\t0x29\t", 0), 0u) << rows[0];
    EXPECT_EQ(rows[103].rfind("103\tSpacebar\tSpace\t", 0), 0u) << rows[103];
}

TEST_F(QXCtlTest, TreeShowsTheItemsAsTheProgramSeesThemAfterStartUp) {
    ProgramResult r = qxctl({"tree"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(lines(r.out), (std::vector<std::string>{
                                "user_layers\tLayers\tgroup",
                                "  " + kMediaGroup + "\tMedia\tgroup",
                                "    {6C1F7C52-1D3A-4E55-9C0B-2F0D4B1B8A02}\tMedia keys\tlayer",
                                "    {6C1F7C52-1D3A-4E55-9C0B-2F0D4B1B8A03}\tBrowser keys\tlayer",
                                "  default_buttons\tDefault buttons\tlayer",
                                "system_layers\tBackground\tgroup",
                                "  control_buttons\tLock indicators\tgroup",
                                "    control_buttons_caps_lock\tCaps Lock on\tlayer",
                                "    control_buttons_num_lock\tNum Lock on\tlayer",
                                "    control_buttons_scroll_lock\tScroll Lock on\tlayer",
                            }));
    EXPECT_FALSE(fs::exists(m_dir / "profile" / "Layers" / "user_layers" / "default_buttons"))
        << "tree changes nothing";
}

TEST_F(QXCtlTest, ExportedGroupImportsAsANewGroupAtTheEndOfUserLayers) {
    const std::string file = (m_dir / "media.layers").string();
    ProgramResult e = qxctl({"export", kMediaGroup, file});
    ASSERT_EQ(e.exitStatus, 0) << e.err;
    ProgramResult i = qxctl({"import", file});
    ASSERT_EQ(i.exitStatus, 0) << i.err;
    const std::string newId = lines(i.out).at(0);
    EXPECT_NE(newId, kMediaGroup);

    auto rows = lines(qxctl({"tree"}).out);
    ASSERT_EQ(rows.size(), 13u);
    EXPECT_EQ(rows[5], "  " + newId + "\tMedia\tgroup") << "appended to user_layers";
    EXPECT_EQ(rows[6], rows[2]) << "the children keep their identifiers and order";
    EXPECT_EQ(rows[7], rows[3]);
    const fs::path copied = m_dir / "profile" / "Layers" / "user_layers" / newId /
                            "{6C1F7C52-1D3A-4E55-9C0B-2F0D4B1B8A02}" / "F5.png";
    EXPECT_TRUE(fs::exists(copied)) << "pictures are copied into the profile";
    EXPECT_FALSE(fs::exists(m_dir / "run" / "TesseraQuadrix" / newId))
        << "the unpacked archive is cleaned up";
}

TEST_F(QXCtlTest, SyncOfAnEmptyFolderIsAFirstStartFollowedByAnExit) {
    const fs::path empty = m_dir / "empty";
    fs::create_directories(empty);
    ProgramResult r = qxtest::runProgram({std::string(QX_PROGRAM_DIR) + "/qxctl", "sync",
                                          "--profile", empty.string()});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const fs::path program(QX_PROGRAM_DIR);
    EXPECT_TRUE(fs::exists(empty / "Layers" / "Group.plist"));
    EXPECT_TRUE(fs::exists(empty / "Layers" / "user_layers" / "Group.plist"));
    EXPECT_TRUE(fs::exists(empty / "Layers" / "system_layers" / "Group.plist"));
    int pictures = 0;
    for (const auto& entry : fs::directory_iterator(program / "default_buttons")) {
        if (entry.path().extension() != ".png")
            continue;
        ++pictures;
        const fs::path copy = empty / "Layers" / "user_layers" / "default_buttons" /
                              entry.path().filename();
        EXPECT_EQ(readFile(copy), readFile(entry.path())) << copy;
    }
    EXPECT_EQ(pictures, 113);
    EXPECT_TRUE(fs::exists(empty / "Layers" / "system_layers" / "control_buttons" /
                           "control_buttons_num_lock" / "NumLock.png"));
}

// The dumped files show the profile's layers without the lock layers, with the Caps Lock
// layer added whatever the locks are: here Caps Lock is off, and Num Lock's layer has lost
// its condition (it is always active), and the default buttons leave both keys free.
TEST_F(QXCtlTest, DumpLeavesOutTheLockLayersAndAddsTheCapsLockLayer) {
    const fs::path profile = m_dir / "fresh";
    fs::create_directories(profile);
    ProgramResult synced = qxctl({"--profile", profile.string(), "sync"}, false);
    ASSERT_EQ(synced.exitStatus, 0) << synced.err;
    const fs::path defaults = profile / "Layers" / "user_layers" / "default_buttons";
    ASSERT_TRUE(fs::remove(defaults / "CapsLock.png"));
    ASSERT_TRUE(fs::remove(defaults / "NumLock.png"));
    const fs::path numLayer = profile / "Layers" / "system_layers" / "control_buttons" /
                              "control_buttons_num_lock" / "Layer.plist";
    const std::string withCondition = readFile(numLayer);
    const std::string always = std::regex_replace(
        withCondition, std::regex(R"(<key>Conditions</key>\s*<dict>\s*<key>[^<]*</key>\s*<dict>[\s\S]*?</dict>\s*</dict>)"),
        "");
    ASSERT_NE(always, withCondition) << "the Num Lock layer's condition is taken out";
    qxtest::writeFile(numLayer, always);
    EXPECT_NE(qxctl({"--profile", profile.string(), "state"}, false)
                  .out.find("control_buttons_num_lock\tNum Lock on\tactive"),
              std::string::npos)
        << "Num Lock's layer is active";

    ProgramResult dumped = qxctl({"--profile", profile.string(), "dump", (m_dir / "dump").string()}, false);
    ASSERT_EQ(dumped.exitStatus, 0) << dumped.err;
    auto file = [&](const char* state, std::u16string_view key) {
        char name[16];
        std::snprintf(name, sizeof name, "%03d.sys",
                      QXKeyTable::key(QXKeyTable::findKeyByName(key).value()).displayNumber);
        return m_dir / "dump" / "Tessera" / state / name;
    };
    for (const char* state : {"normal", "shift"}) {
        EXPECT_EQ(fs::file_size(file(state, u"CapsLock")), 4608u)
            << state << ": the Caps Lock layer shows although Caps Lock is off";
        EXPECT_FALSE(fs::exists(file(state, u"NumLock")))
            << state << ": the active Num Lock layer is left out";
        EXPECT_TRUE(fs::exists(file(state, u"Escape"))) << state;
    }
}

TEST_F(QXCtlTest, LayerImageAndLayerFromImageRoundTripALayer) {
    const fs::path picture = m_dir / "media.png";
    ProgramResult r = qxctl({"layer-image", "{6C1F7C52-1D3A-4E55-9C0B-2F0D4B1B8A02}",
                             picture.string()});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    QXImage written;
    ASSERT_TRUE(written.loadFile(picture));
    EXPECT_EQ(written.getWidth(), 1312u);
    EXPECT_EQ(written.getHeight(), 376u);

    ProgramResult made = qxctl({"layer-from-image", picture.string(), "From picture"});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    const std::string id = lines(made.out).at(0);
    EXPECT_NE(lines(qxctl({"tree"}).out).at(5).find(id + "\tFrom picture\tlayer"),
              std::string::npos);
    const fs::path layerFolder = m_dir / "profile" / "Layers" / "user_layers" / id;
    int keys = 0;
    for (const auto& entry : fs::directory_iterator(layerFolder))
        keys += entry.path().extension() == ".png";
    EXPECT_EQ(keys, 7) << "only the seven painted squares became keys";
    QXImage f5, original;
    ASSERT_TRUE(f5.loadFile(layerFolder / "F5.png"));
    ASSERT_TRUE(original.loadFile(m_dir / "profile" / "Layers" / "user_layers" / kMediaGroup /
                                  "{6C1F7C52-1D3A-4E55-9C0B-2F0D4B1B8A02}" / "F5.png"));
    RGBQUAD a{}, b{};
    f5.getPixelColor(24, 24, &a);
    original.getPixelColor(24, 24, &b);
    EXPECT_EQ(a.rgbRed, b.rgbRed);
    EXPECT_EQ(a.rgbGreen, b.rgbGreen);

    EXPECT_EQ(qxctl({"layer-image", "user_layers", picture.string()}).exitStatus, 1)
        << "a group has no layer picture";
    EXPECT_EQ(qxctl({"layer-from-image", (m_dir / "profile" / "Device.plist").string(), "x"})
                  .exitStatus,
              1);
}

TEST_F(QXCtlTest, ImportIntoAProfileWithoutUserLayersCreatesIt) {
    const std::string file = (m_dir / "media.layers").string();
    ASSERT_EQ(qxctl({"export", kMediaGroup, file}).exitStatus, 0);
    fs::remove_all(m_dir / "profile");
    ProgramResult i = qxctl({"import", file});
    ASSERT_EQ(i.exitStatus, 0) << i.err;
    auto rows = lines(qxctl({"tree"}).out);
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[0], "user_layers\tLayers\tgroup");
}

TEST_F(QXCtlTest, FailuresSayWhyOnOneLineAndChangeNothing) {
    const std::string before = readFile(m_dir / "profile" / "Layers" / "user_layers" / "Group.plist");
    qxtest::writeFile(m_dir / "junk.layers", "not an archive at all");
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    for (const Case& c : std::vector<Case>{
             {{"import", (m_dir / "junk.layers").string()}, 1},
             {{"import", (m_dir / "missing.layers").string()}, 1},
             {{"export", "{NO-SUCH-ITEM}", (m_dir / "x.layers").string()}, 1},
             {{"plist", (m_dir / "junk.layers").string()}, 1},
             {{"frobnicate"}, 2},
             {{"export", kMediaGroup}, 2},
         }) {
        ProgramResult r = qxctl(c.args);
        EXPECT_EQ(r.exitStatus, c.status) << c.args[0];
        ASSERT_FALSE(r.err.empty()) << c.args[0];
        EXPECT_EQ(r.err.rfind("qxctl: ", 0), 0u) << r.err;
        if (c.status == 1) {
            EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
        }
    }
    EXPECT_EQ(readFile(m_dir / "profile" / "Layers" / "user_layers" / "Group.plist"), before);
    EXPECT_FALSE(fs::exists(m_dir / "x.layers"));
}

TEST_F(QXCtlTest, PlistPrintsAFileBackAsItReadsIt) {
    const fs::path file = m_dir / "profile" / "Applications.plist";
    ProgramResult r = qxctl({"plist", file.string()}, false);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    QXPropertyNode::Ptr printed = parsePropertyList(r.out, u"x");
    ASSERT_TRUE(printed);
    EXPECT_EQ(printed->findChild(u"firefox-esr")->childValue(u"Path"), u"/usr/bin/firefox-esr");
}

} // namespace

namespace {

// A profile whose background holds a layer that needs Shift held.
void addShiftLayer(const fs::path& profileFolder) {
    std::vector<std::u16string> names;
    for (const QXKeyRecord& key : QXKeyTable::keys())
        names.emplace_back(key.name);
    QXProfile profile({profileFolder, profileFolder / "tmp", QX_PROGRAM_DIR}, names);
    QXPropertyNode::Ptr root = profile.load();
    QXLayerTree tree;
    tree.loadFrom(*root->findChild(u"Layers"));
    tree.ensureFixedItems(profile);
    auto layer = makeQX<QXLayer>(u"shift_layer");
    layer->setDisplayName(u"Shifted");
    layer->addCondition(makeQX<QXModifierCondition>(QXModifier::kShift));
    layer->getButton(5)->keystroke = u"%"; // F5: no language layer has text there
    tree.systemLayers()->children().insert(tree.systemLayers()->children().begin(), layer);
    QXPropertyNode out(u"root");
    tree.saveTo(out);
    ASSERT_TRUE(profile.save(out));
}

std::string lineOf(const std::string& text, const std::string& start) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.find(start) != std::string::npos)
            return line;
    return {};
}

TEST_F(QXCtlTest, StateFollowsShiftAndTheLanguageGroupsFollowTheServer) {
    if (!qxtest::QXXvfb::available())
        GTEST_SKIP() << "Xvfb is not installed";
    qxtest::QXXvfb xvfb({"us,de", false});
    ASSERT_EQ(xvfb.error(), "");
    addShiftLayer(m_dir / "profile");

    ProgramResult idle = qxctl({"state"});
    ASSERT_EQ(idle.exitStatus, 0) << idle.err;
    EXPECT_NE(lineOf(idle.out, "shift_layer").find("inactive"), std::string::npos) << idle.out;
    EXPECT_EQ(lineOf(idle.out, "  23 5\t"), "  23 5\tENU-Main\tENU-Main") << idle.out;
    EXPECT_EQ(lineOf(idle.out, "  5 F5\t"), "  5 F5\t-\t-");
    EXPECT_NE(idle.out.find("04090409\tEnglish (United States) - English (US)\tactive"),
              std::string::npos)
        << idle.out;
    EXPECT_NE(idle.out.find("04070407\tGerman (Germany) - German\tinactive"), std::string::npos);

    ASSERT_EQ(qxtest::runProgram({"/usr/bin/xdotool", "keydown", "shift"}).exitStatus, 0);
    ProgramResult held = qxctl({"state"});
    qxtest::runProgram({"/usr/bin/xdotool", "keyup", "shift"});
    EXPECT_NE(lineOf(held.out, "modifiers").find("Shift"), std::string::npos) << held.out;
    EXPECT_NE(lineOf(held.out, "shift_layer").find("\tactive"), std::string::npos) << held.out;
    EXPECT_EQ(lineOf(held.out, "  5 F5\t"), "  5 F5\tshift_layer\tshift_layer") << held.out;
    EXPECT_EQ(lineOf(held.out, "  23 5\t"), "  23 5\tENU-s\tENU-s") << "the Shift layer of English";

    ProgramResult released = qxctl({"state"});
    EXPECT_NE(lineOf(released.out, "shift_layer").find("inactive"), std::string::npos);

    ProgramResult tree = qxctl({"tree"});
    EXPECT_NE(tree.out.find("  04090409\tEnglish (United States) - English (US)\tgroup"),
              std::string::npos)
        << tree.out;
    EXPECT_NE(tree.out.find("    DEU-s\tShift\tlayer"), std::string::npos);
}

TEST_F(QXCtlTest, TheUsersProfileIsLeftToARunningCopyAndSweptOnceNoneRuns) {
    const fs::path profile = m_dir / "config" / "TesseraQuadrix";
    fs::create_directories(profile.parent_path());
    fs::copy(m_dir / "profile", profile, fs::copy_options::recursive);
    const fs::path scratch = m_dir / "run" / "TesseraQuadrix" / "{0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9}";
    // What a killed save and a crashed import leave, and look-alikes that must stay.
    qxtest::writeFile(profile / "Device.plist.tmpAb12Cd", "half a save");
    qxtest::writeFile(profile / "Layers" / "Group.plist.tmpZZ99zz", "half a save");
    qxtest::writeFile(m_dir / "victim", "the user's own file");
    fs::create_symlink(m_dir / "victim", profile / "link.tmpQWERTY");
    fs::create_directories(profile / "folder.tmpABCDEF");
    qxtest::writeFile(profile / "notes.tmp12345", "not ours: five characters");
    qxtest::writeFile(profile / "notes.tmpAB-12C", "not ours: a dash");
    qxtest::writeFile(scratch / "Layer.plist", "an unpacked import");
    qxtest::writeFile(m_dir / "run" / "TesseraQuadrix" / "Editor Layots" / "F1.bmp", "kept");
    const std::string before = readFile(profile / "Layers" / "Group.plist");

    {
        // A running qxcfg holds the lock (this one answers no hand-over).
        QXSingleInstance running(m_dir / "run", {});
        ASSERT_TRUE(running.lockIfAlone());
        const ProgramResult sync = qxctl({"sync"}, false);
        EXPECT_EQ(sync.exitStatus, 1);
        EXPECT_NE(sync.err.find("qxcfg is running"), std::string::npos) << sync.err;
        const ProgramResult imported = qxctl({"import", (m_dir / "profile" / "Device.plist").string()}, false);
        EXPECT_EQ(imported.exitStatus, 1) << "no answer is no success";
        EXPECT_NE(imported.err.find("nothing was imported"), std::string::npos) << imported.err;
        EXPECT_EQ(readFile(profile / "Layers" / "Group.plist"), before);
        EXPECT_TRUE(fs::exists(scratch)) << "the running copy's temporary folder is its own";
        EXPECT_TRUE(fs::exists(profile / "Device.plist.tmpAb12Cd"));
    }

    const ProgramResult sync = qxctl({"sync"}, false);
    ASSERT_EQ(sync.exitStatus, 0) << sync.err;
    EXPECT_FALSE(fs::exists(profile / "Device.plist.tmpAb12Cd"));
    EXPECT_FALSE(fs::exists(profile / "Layers" / "Group.plist.tmpZZ99zz"));
    EXPECT_FALSE(fs::exists(scratch));
    EXPECT_TRUE(fs::is_symlink(profile / "link.tmpQWERTY")) << "a link is not ours";
    EXPECT_EQ(readFile(m_dir / "victim"), "the user's own file");
    EXPECT_TRUE(fs::is_directory(profile / "folder.tmpABCDEF"));
    EXPECT_TRUE(fs::exists(profile / "notes.tmp12345"));
    EXPECT_TRUE(fs::exists(profile / "notes.tmpAB-12C"));
    EXPECT_TRUE(fs::exists(m_dir / "run" / "TesseraQuadrix" / "Editor Layots" / "F1.bmp"));
}

} // namespace
