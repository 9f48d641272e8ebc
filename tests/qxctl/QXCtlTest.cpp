#include "platform/QXText.h"
#include "store/QXPropertyList.h"
#include "support/QXTestSupport.h"

#include <gtest/gtest.h>
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

TEST_F(QXCtlTest, TreeShowsGroupsAndLayersIndented) {
    ProgramResult r = qxctl({"tree"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    auto rows = lines(r.out);
    ASSERT_EQ(rows.size(), 5u) << r.out;
    EXPECT_EQ(rows[0], "user_layers\tLayers\tgroup");
    EXPECT_EQ(rows[1], "  " + kMediaGroup + "\tMedia\tgroup");
    EXPECT_EQ(rows[2].rfind("    {", 0), 0u);
    EXPECT_EQ(rows[4], "system_layers\tBackground\tgroup");
}

TEST_F(QXCtlTest, ExportedGroupImportsAsANewGroupInUserLayers) {
    const std::string file = (m_dir / "media.layers").string();
    ProgramResult e = qxctl({"export", kMediaGroup, file});
    ASSERT_EQ(e.exitStatus, 0) << e.err;
    ProgramResult i = qxctl({"import", file});
    ASSERT_EQ(i.exitStatus, 0) << i.err;
    const std::string newId = lines(i.out).at(0);
    EXPECT_NE(newId, kMediaGroup);

    auto rows = lines(qxctl({"tree"}).out);
    ASSERT_EQ(rows.size(), 8u) << qxctl({"tree"}).out;
    EXPECT_EQ(rows[4], "  " + newId + "\tMedia\tgroup") << "appended to user_layers";
    EXPECT_EQ(rows[5], rows[2]) << "the children keep their identifiers and order";
    EXPECT_EQ(rows[6], rows[3]);
    const fs::path copied = m_dir / "profile" / "Layers" / "user_layers" / newId /
                            "{6C1F7C52-1D3A-4E55-9C0B-2F0D4B1B8A02}" / "F5.png";
    EXPECT_TRUE(fs::exists(copied)) << "pictures are copied into the profile";
    EXPECT_FALSE(fs::exists(m_dir / "run" / "TesseraQuadrix" / newId))
        << "the unpacked archive is cleaned up";
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
