#include "app/QXDesktopEntries.h"

#include "QXApplicationsTestSupport.h"
#include "app/QXSysApplicationsController.h"
#include "editor/QXGlobalImageList.h"
#include "platform/QXText.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using qxtest::TempDesktop;

namespace {

std::string entryText(const std::string& exec, const std::string& name, const std::string& icon,
                      const std::string& extra = {}) {
    std::string text = "[Desktop Entry]\nType=Application\n";
    if (!exec.empty())
        text += "Exec=" + exec + "\n";
    if (!name.empty())
        text += "Name=" + name + "\n";
    if (!icon.empty())
        text += "Icon=" + icon + "\n";
    return text + extra;
}

QColor iconColour(int index) {
    return QXGlobalImageList::instance().icon(index).pixelColor(8, 8);
}

} // namespace

TEST(DesktopExecLineTest, GivesTheProgramThatTheLineStarts) {
    using E = QXDesktopEntries;
    EXPECT_EQ(E::execProgram("\"/opt/My App/bin/tool\" --flag %U"), "/opt/My App/bin/tool");
    EXPECT_EQ(E::execProgram("  tool %f"), "tool");
    EXPECT_EQ(E::execProgram("%U tool"), "tool") << "field codes are not programs";
    EXPECT_EQ(E::execProgram("\"/opt/we\\\"ird\\\\dir/t\\$x\" -a"), "/opt/we\"ird\\dir/t$x");
    EXPECT_EQ(E::execProgram("/opt/100%%/tool"), "/opt/100%/tool");
    EXPECT_EQ(E::execProgram("env FOO=1 BAR=\"a b\" tool --x"), "tool");
    EXPECT_EQ(E::execProgram("/usr/bin/env -u HOME -i -- tool"), "tool");
    EXPECT_EQ(E::execProgram("env -S \"LANG=C tool -v\" x"), "tool");
    EXPECT_EQ(E::execProgram("GDK_BACKEND=x11 tool"), "tool");

    EXPECT_EQ(E::execProgram(""), std::nullopt);
    EXPECT_EQ(E::execProgram("   "), std::nullopt);
    EXPECT_EQ(E::execProgram("\"/opt/tool --flag"), std::nullopt) << "unterminated quote";
    EXPECT_EQ(E::execProgram("tool\\"), std::nullopt) << "dangling backslash";
    EXPECT_EQ(E::execProgram("too%Ul"), std::nullopt);
    EXPECT_EQ(E::execProgram("env FOO=1"), std::nullopt) << "env without a program";
}

class DesktopEntriesTest : public ::testing::Test, protected TempDesktop {};

TEST_F(DesktopEntriesTest, ListsUsableEntriesWithTheirNameAndIcon) {
    const fs::path tool = program("My App/bin/tool");
    for (const char* name :
         {"qxbare", "qxenvtool", "qxnested", "qxreal", "qxbroken", "qxnoicon", "qxbadicon",
          "qxnoname", "qxhidden", "qxnodisplay", "qxlink", "qxtry", "qxonly"})
        program("bin/" + std::string(name));
    fs::create_symlink(bin() / "qxreal", bin() / "qxalias");

    const fs::path red = m_dir / "pictures/red.png";
    qxtest::writePicture(red, Qt::red, 32);
    qxtest::writeFile(m_dir / "pictures/garbage.png", "not a picture");
    const fs::path hicolor = dataDir() / "icons/hicolor";
    qxtest::writeFile(hicolor / "index.theme", "[Icon Theme]\nName=Hicolor\n"
                                               "Directories=48x48/apps,16x16/apps\n\n"
                                               "[48x48/apps]\nSize=48\nType=Fixed\n\n"
                                               "[16x16/apps]\nSize=16\nType=Fixed\n");
    qxtest::writePicture(hicolor / "48x48/apps/qx-theme.png", Qt::green, 48);
    qxtest::writePicture(hicolor / "16x16/apps/qx-theme.png", Qt::blue, 16);
    qxtest::writePicture(dataDir() / "pixmaps/qx-pixmap.xpm", Qt::yellow, 16, "XPM");

    entry("quoted.desktop", entryText("\"" + tool.string() + "\" --flag %U", "My Tool",
                                      red.string(), "Name[de]=Mein Werkzeug\n"));
    entry("bare.desktop", entryText("qxbare %f", "Bare", "qx-theme"));
    // "env" runs the program the list is after; action groups are no entries of their own.
    fs::create_symlink("/usr/bin/env", bin() / "env");
    entry("env.desktop", entryText("env FOO=1 qxenvtool", "Env Tool", "qx-pixmap",
                                   "[Desktop Action new]\nExec=qxbroken\n"
                                   "[Desktop Action other]\nExec=qxnoname\n"));
    entry("sub/nested.desktop", entryText("qxnested", "Nested", "qx-theme.png"));
    entry("alias.desktop", entryText("qxalias", "Alias", "qx-theme"));

    entry("quote.desktop",
          entryText("\"" + bin().string() + "/qxbroken --x", "Broken", "qx-theme"));
    entry("empty.desktop", entryText("", "Empty", "qx-theme", "Exec=\n"));
    entry("missing.desktop", entryText("/nonexistent/qxmissing", "Missing", "qx-theme"));
    entry("notonpath.desktop", entryText("qxnotonpath", "Not on path", "qx-theme"));
    entry("noicon.desktop", entryText("qxnoicon", "No Icon", "qx-no-such-icon"));
    entry("badicon.desktop",
          entryText("qxbadicon", "Bad Icon", (m_dir / "pictures/garbage.png").string()));
    entry("noname.desktop", entryText("qxnoname", "", "qx-theme"));
    entry("hidden.desktop", entryText("qxhidden", "Hidden", "qx-theme"));
    entry("hidden.desktop", "[Desktop Entry]\nType=Application\nHidden=true\n", true);
    entry("nodisplay.desktop",
          entryText("qxnodisplay", "No Display", "qx-theme", "NoDisplay=true\n"));
    entry("link.desktop", "[Desktop Entry]\nType=Link\nName=Link\nIcon=qx-theme\nExec=qxlink\n");
    entry("tryexec.desktop", entryText("qxtry", "Try", "qx-theme", "TryExec=qxgone\n"));
    entry("only.desktop", entryText("qxonly", "Only", "qx-theme", "OnlyShowIn=QXElsewhere;\n"));

    QXSysApplicationsController controller;

    std::vector<std::u16string> names;
    for (const auto* application : controller.applicationsByDisplayText())
        names.push_back(application->name);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"qxreal", u"qxbare", u"qxenvtool", u"tool",
                                                  u"qxnested"}))
        << "sorted by description; broken, hidden and incomplete entries left out";

    const auto* quoted = controller.find(u"TOOL");
    ASSERT_NE(quoted, nullptr);
    EXPECT_EQ(quoted->path, fromPath(tool));
    EXPECT_EQ(quoted->description, u"Mein Werkzeug") << "the locale's Name";
    EXPECT_EQ(iconColour(quoted->iconIndex), QColor(Qt::red)) << "absolute icon file";

    const auto* bare = controller.find(u"qxbare");
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(bare->path, fromPath(bin() / "qxbare")) << "found on PATH";
    EXPECT_EQ(iconColour(bare->iconIndex), QColor(Qt::blue)) << "the theme's 16 x 16 picture";
    EXPECT_EQ(iconColour(controller.iconIndex(u"qxenvtool")), QColor(Qt::yellow)) << "pixmaps";
    EXPECT_EQ(iconColour(controller.iconIndex(u"qxnested")), QColor(Qt::blue));
    EXPECT_EQ(controller.find(u"qxreal")->path, fromPath(bin() / "qxalias"))
        << "listed under the name of the linked file, as its processes are";
    EXPECT_EQ(controller.iconIndex(u"qxalias"), -1);
}

TEST_F(DesktopEntriesTest, AddingProgramsByHand) {
    program("bin/qxknown");
    const fs::path loose = program("elsewhere/QXLoose");
    const fs::path described = program("bin/qxbadicon");
    // The user's own icons, in a theme of the user's data folder.
    qxtest::writeFile(dataHome() / "icons/hicolor/index.theme",
                      "[Icon Theme]\nName=Hicolor\nDirectories=22x22/apps,16x16/apps\n\n"
                      "[22x22/apps]\nSize=22\nType=Fixed\n\n[16x16/apps]\nSize=16\nType=Fixed\n");
    qxtest::writePicture(dataHome() / "icons/hicolor/22x22/apps/qx-guess.png", Qt::cyan, 22);
    qxtest::writePicture(dataHome() / "icons/hicolor/16x16/apps/qx-guess.png", Qt::magenta);
    entry("known.desktop", entryText("qxknown", "Known", "qx-guess"));
    entry("badicon.desktop", entryText("qxbadicon", "Bad Icon", "qx-no-such-icon"));
    QXSysApplicationsController controller;
    ASSERT_EQ(controller.applications().size(), 1u);
    EXPECT_EQ(iconColour(controller.iconIndex(u"qxknown")), QColor(Qt::magenta));

    EXPECT_FALSE(controller.addApplication(fromPath(loose), false))
        << "without trust a program needs a description and an icon";
    EXPECT_FALSE(controller.addApplication(fromPath(m_dir / "missing/qxgone"), false));

    auto added = controller.addApplication(fromPath(loose), true, true);
    ASSERT_TRUE(added);
    EXPECT_EQ(added->name, u"qxloose");
    EXPECT_EQ(added->displayText(), u"qxloose");
    EXPECT_GE(added->iconIndex, 0);
    EXPECT_EQ(controller.iconIndex(u"QXLoose"), added->iconIndex);

    auto withEntry = controller.addApplication(fromPath(described), true, true);
    ASSERT_TRUE(withEntry);
    EXPECT_EQ(withEntry->description, u"Bad Icon") << "its entry still describes it";

    auto again = controller.addApplication(fromPath(program("other/qxknown")), true, true);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->path, fromPath(bin() / "qxknown")) << "the listed record is returned";

    std::vector<std::u16string> user;
    for (const auto* application : controller.userApplications())
        user.push_back(application->name);
    EXPECT_EQ(user, (std::vector<std::u16string>{u"qxloose", u"qxbadicon"}));
}
