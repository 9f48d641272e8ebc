#include "app/QXEditorConditionChoices.h"

#include "QXApplicationsTestSupport.h"
#include "app/QXSysApplicationsController.h"
#include "model/QXXkbLayoutSource.h"
#include "platform/QXText.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using qxtest::TempDesktop;

namespace {

std::string entryText(const std::string& exec, const std::string& name, const fs::path& icon) {
    return "[Desktop Entry]\nType=Application\nExec=" + exec + "\nName=" + name +
           "\nIcon=" + icon.string() + "\nMimeType=x-scheme-handler/http;\n";
}

class EditorConditionChoicesTest : public ::testing::Test, protected TempDesktop {
protected:
    qxtest::ScopedEnv m_config{"XDG_CONFIG_HOME", (m_dir / "home/.config").string()};
    qxtest::ScopedEnv m_configDirs{"XDG_CONFIG_DIRS", (m_dir / "etc").string()};
};

} // namespace

// The conditions view's lists as the program fills them: the desktop's applications by
// display text, the desktop's own web browser for a new application condition, and a
// picked program added to the user's applications, while a file that is no program is
// refused and changes nothing.
TEST_F(EditorConditionChoicesTest, OfferTheDesktopsApplicationsAndBrowserAndAddPickedPrograms) {
    qxtest::ensureGuiApplication();
    const fs::path icon = m_dir / "pictures/web.png";
    qxtest::writePicture(icon, Qt::blue, 32);
    program("bin/qxwebber");
    program("bin/qxeditor");
    entry("qxwebber.desktop", entryText("qxwebber %u", "Zebra Web", icon));
    entry("qxeditor.desktop", entryText("qxeditor %f", "Alpha Editor", icon));
    qxtest::writeFile(m_dir / "home/.config/mimeapps.list",
                      "[Default Applications]\nx-scheme-handler/http=qxwebber.desktop\n");

    QXSysApplicationsController controller;
    QXXkbLayoutSource layouts(std::vector<QXXkbLayoutSource::Layout>{{"de", ""}});
    QXEditorConditionChoices choices(layouts, controller);

    EXPECT_EQ(choices.defaultBrowser(), u"qxwebber");
    std::vector<QXApplicationChoice> listed = choices.applications();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].text, u"Alpha Editor");
    EXPECT_EQ(listed[1].name, u"qxwebber");
    EXPECT_GE(listed[1].iconIndex, 0);
    ASSERT_EQ(choices.layouts().size(), 1u);
    EXPECT_EQ(choices.layouts()[0].handle, 0x04070407u);

    const fs::path notes = m_dir / "notes.txt";
    qxtest::writeFile(notes, "not a program");
    EXPECT_FALSE(choices.addApplication(fromUtf8(notes.string())));
    EXPECT_FALSE(choices.addApplication(fromUtf8((m_dir / "missing").string())));
    EXPECT_TRUE(controller.userApplications().empty());

    // Picked on purpose, a program without a desktop entry is listed under its name.
    fs::create_symlink(program("tools/QXTool-1.2"), m_dir / "qxtool");
    std::optional<QXApplicationChoice> added =
        choices.addApplication(fromUtf8((m_dir / "qxtool").string()));
    ASSERT_TRUE(added);
    EXPECT_EQ(added->name, u"qxtool-1.2") << "named as its process is: link followed, lower case";
    ASSERT_EQ(controller.userApplications().size(), 1u);
    EXPECT_EQ(controller.userApplications()[0]->name, u"qxtool-1.2");
    EXPECT_EQ(choices.applications().size(), 3u);
}
