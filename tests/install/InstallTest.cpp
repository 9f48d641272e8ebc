// The installed program, as a system gets it: this build installed into a temporary prefix
// with `cmake --install`, then run from there through the links in bin/, with nothing of
// the build tree in reach.
#include "app/QXSingleInstance.h"
#include "model/QXKeyTable.h"
#include "model/QXLayoutPicture.h"
#include "platform/QXWin32.h"
#include "support/QXTestSupport.h"

#include <QImage>
#include <QString>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qxtest::ChildProcess;
using qxtest::ProgramResult;
using qxtest::waitFor;

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);)
        parts.push_back(part);
    return parts;
}

// A tool of the system, found on the PATH as a shell would.
std::string tool(const std::string& name) {
    const char* path = std::getenv("PATH");
    for (const std::string& folder : split(path ? path : "/usr/bin:/bin", ':'))
        if (!folder.empty() && ::access((fs::path(folder) / name).c_str(), X_OK) == 0)
            return (fs::path(folder) / name).string();
    return name;
}

std::string displayFile(size_t key) {
    char name[16];
    std::snprintf(name, sizeof name, "%03d.sys", QXKeyTable::key(key).displayNumber);
    return name;
}

// One install for the whole suite: it takes a few seconds and nothing here changes it.
class InstallTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_prefix = new qxtest::TempDir;
        s_install = qxtest::runProgram(
            {QX_CMAKE_COMMAND, "--install", QX_BUILD_DIR, "--prefix", s_prefix->path().string()});
    }
    static void TearDownTestSuite() {
        delete s_prefix;
        s_prefix = nullptr;
    }
    void SetUp() override { ASSERT_EQ(s_install.exitStatus, 0) << s_install.out << s_install.err; }

    static fs::path prefix() { return s_prefix->path(); }
    static fs::path programFolder() { return prefix() / "lib" / "tessera-quadrix"; }
    static std::string bin(const std::string& program) { return (prefix() / "bin" / program).string(); }

    ProgramResult run(std::vector<std::string> args) { return qxtest::runProgram(args); }

    static qxtest::TempDir* s_prefix;
    static ProgramResult s_install;

    // The programs must find their folder themselves: no plug-in path, no build tree.
    qxtest::TempDir m_dir;
    qxtest::ScopedEnv m_plugins{"QX_PLUGIN_PATH", ""};
    qxtest::ScopedEnv m_config{"XDG_CONFIG_HOME", (m_dir / "config").string()};
    qxtest::ScopedEnv m_platform{"QT_QPA_PLATFORM", "offscreen"};
    qxtest::ScopedEnv m_display{"DISPLAY", ""};
    qxtest::ScopedEnv m_wayland{"WAYLAND_DISPLAY", ""};
};

qxtest::TempDir* InstallTest::s_prefix = nullptr;
ProgramResult InstallTest::s_install;

TEST_F(InstallTest, TheProgramFolderHoldsWhatShipsAndTheLinksOnThePathPointIntoIt) {
    for (const char* program : {"qxcfg", "qxctl", "qxvkbd"}) {
        const fs::path link = prefix() / "bin" / program;
        ASSERT_TRUE(fs::is_symlink(link)) << link;
        EXPECT_TRUE(fs::read_symlink(link).is_relative()) << "the tree can move: " << link;
        EXPECT_TRUE(fs::equivalent(link, programFolder() / program));
    }
    for (const char* library : {"libutility.so", "libqxhk.so", "libTesseraControls.so"})
        EXPECT_TRUE(fs::is_regular_file(programFolder() / library)) << library;
    EXPECT_TRUE(fs::is_regular_file(programFolder() / "default_buttons" / "Escape.png"));
    EXPECT_TRUE(fs::is_regular_file(programFolder() / "control_buttons" / "Group.plist"));
    EXPECT_TRUE(fs::is_regular_file(programFolder() / "Plugins" / "Mail" / "no_mail.png"))
        << "the pictures a plug-in loads from its folder come along";

    // Exactly the shipped plug-ins: no test plug-in, no test program, no tool.
    std::vector<std::string> plugins;
    for (const auto& entry : fs::directory_iterator(programFolder() / "Plugins"))
        plugins.push_back(entry.path().filename().string());
    std::vector<std::string> shipped = split(QX_SHIPPED_PLUGINS, ',');
    std::sort(plugins.begin(), plugins.end());
    std::sort(shipped.begin(), shipped.end());
    EXPECT_EQ(plugins, shipped);
    for (const auto& entry : fs::recursive_directory_iterator(prefix())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name.find("test") == std::string::npos && name.find("bench") == std::string::npos &&
                    name != "artgen")
            << entry.path();
    }

    // Every icon is the size its folder says.
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const std::string folder = std::to_string(size) + "x" + std::to_string(size);
        const QImage icon(QString::fromStdString(
            (prefix() / "share/icons/hicolor" / folder / "apps/org.example.TesseraQuadrix.png").string()));
        EXPECT_EQ(icon.size(), QSize(size, size)) << folder;
    }
}

TEST_F(InstallTest, TheProgramsRunFromThePathAndAnswerHelpAndVersion) {
    for (const char* program : {"qxcfg", "qxctl", "qxvkbd"}) {
        ProgramResult version = run({bin(program), "--version"});
        EXPECT_EQ(version.exitStatus, 0) << program << version.err;
        EXPECT_EQ(version.out, std::string(program) + " (Tessera Quadrix Configurator) " QX_PROJECT_VERSION "\n");
        ProgramResult help = run({bin(program), "--help"});
        EXPECT_EQ(help.exitStatus, 0) << program << help.err;
        EXPECT_EQ(help.out.rfind(std::string("usage: ") + program, 0), 0u) << help.out;
    }
    EXPECT_FALSE(fs::exists(m_dir / "config")) << "--help and --version touch no profile";
    // The firmware version of the virtual keyboard keeps its meaning with a value.
    ProgramResult firmware = run({bin("qxvkbd"), "press", "A", "--version", "X"});
    EXPECT_EQ(firmware.exitStatus, 2) << "an option of the keyboard itself, not of press";

    ProgramResult keys = run({bin("qxctl"), "keys"});
    EXPECT_EQ(keys.exitStatus, 0) << keys.err;
    EXPECT_EQ(split(keys.out, '\n').size(), QXKeyTable::keyCount());

    // Every shipped plug-in is found in the installed folder and its library loads there.
    ProgramResult listed = run({bin("qxctl"), "plugins"});
    ASSERT_EQ(listed.exitStatus, 0) << listed.err;
    EXPECT_EQ(listed.out.find("error:"), std::string::npos) << listed.out;
    for (const std::string& plugin : split(QX_SHIPPED_PLUGINS, ',')) {
        const std::string library = (programFolder() / "Plugins" / plugin / (plugin + ".so")).string();
        EXPECT_NE(listed.out.find('\t' + library + '\n'), std::string::npos) << plugin << '\n' << listed.out;
    }
}

// The installed tray program with the installed virtual keyboard, headless: the default
// buttons reach the keyboard, and a ".tqlz" file given as a desktop opens it is imported by
// the copy that runs.
TEST_F(InstallTest, TheInstalledProgramPushesTheDefaultButtonsAndImportsAnOpenedFile) {
    fs::create_directories(m_dir / "run");
    fs::permissions(m_dir / "run", fs::perms::owner_all);
    qxtest::ScopedEnv runtime("XDG_RUNTIME_DIR", (m_dir / "run").string());
    const fs::path keyboardFolder = m_dir / "run" / "TesseraQuadrix-virtual" / "kb";
    const fs::path tessera = keyboardFolder / "disk" / "vTessera";
    auto display = [&](size_t key) {
        return qxtest::readFile(tessera / "dynamic" / displayFile(key)).substr(0, 4608);
    };

    // A layer painting F1 red, exported under the other name of the format.
    QImage picture(QXLayoutPicture::kWidth, QXLayoutPicture::kHeight, QImage::Format_RGB888);
    picture.fill(Qt::black);
    const QXLayoutPicture::Square f1 = QXLayoutPicture::keySquare(1);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x)
            picture.setPixelColor(f1.left + x, f1.top + y, QColor(255, 0, 0));
    ASSERT_TRUE(picture.save(QString::fromStdString((m_dir / "red.png").string())));
    const std::string scratch = (m_dir / "scratch").string();
    ProgramResult made = run({bin("qxctl"), "--profile", scratch, "layer-from-image", (m_dir / "red.png").string(), "Red"});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    const fs::path redFile = m_dir / "Red.tqlz";
    ProgramResult exported = run({bin("qxctl"), "--profile", scratch, "export",
                                  made.out.substr(0, made.out.find('\n')), redFile.string()});
    ASSERT_EQ(exported.exitStatus, 0) << exported.err;

    ChildProcess keyboard({bin("qxvkbd"), "--name", "kb", "--no-window"});
    ASSERT_TRUE(waitFor([&] { return fs::is_socket(keyboardFolder / "control.sock"); }));
    ChildProcess program({bin("qxcfg"), "/minimized"});

    // What the installed qxctl prepares for an empty profile is what the program pushed.
    ProgramResult dumped = run({bin("qxctl"), "--profile", (m_dir / "empty").string(), "dump", (m_dir / "dump").string()});
    ASSERT_EQ(dumped.exitStatus, 0) << dumped.err;
    auto differing = [&] {
        size_t n = 0;
        for (size_t key = 0; key < QXKeyTable::keyCount(); ++key)
            n += display(key) != qxtest::readFile(m_dir / "dump" / "Tessera" / "normal" / displayFile(key));
        return n;
    };
    EXPECT_TRUE(waitFor([&] { return differing() == 0; }, 60s)) << differing() << " displays differ";

    // As the desktop entry runs it: "qxcfg %f" hands the file to the running copy.
    ProgramResult opened = run({bin("qxcfg"), redFile.string()});
    EXPECT_EQ(opened.exitStatus, 0) << opened.err;
    std::string red;
    for (int i = 0; i < 48 * 48; ++i)
        red += static_cast<char>(0xF8), red += '\0';
    EXPECT_TRUE(waitFor([&] { return display(1) == red; })) << "the running copy imported Red.tqlz";

    QXSingleInstance probe(m_dir / "run", {});
    ASSERT_TRUE(probe.postToRunning(qxwin::WM_CLOSE));
    ASSERT_TRUE(program.waitForExit(60s));
    EXPECT_EQ(program.exitStatus(), 0);
    EXPECT_TRUE(fs::exists(m_dir / "config" / "TesseraQuadrix" / "Layers" / "user_layers" / "default_buttons" /
                           "Escape.png"))
        << "the profile was seeded from the installed default buttons";
}

// The desktop's own validators accept the shipped desktop files, and the file types register.
TEST_F(InstallTest, TheDesktopFilesPassTheDesktopsValidators) {
    const fs::path share = prefix() / "share";
    for (const fs::path& entry : {share / "applications/org.example.TesseraQuadrix.desktop",
                                  prefix() / "etc/xdg/autostart/org.example.TesseraQuadrix.desktop"}) {
        ProgramResult valid = run({tool("desktop-file-validate"), entry.string()});
        EXPECT_EQ(valid.exitStatus, 0) << entry << '\n' << valid.out << valid.err;
        EXPECT_TRUE(valid.out.empty()) << "no hints either: " << valid.out;
    }
    ProgramResult meta =
        run({tool("appstreamcli"), "validate", "--no-net", (share / "metainfo/org.example.TesseraQuadrix.metainfo.xml").string()});
    EXPECT_EQ(meta.exitStatus, 0) << meta.out << meta.err;

    // shared-mime-info compiles the package into one file per type it accepted.
    const fs::path mime = m_dir / "mime";
    fs::create_directories(mime / "packages");
    fs::copy_file(share / "mime/packages/org.example.TesseraQuadrix.xml", mime / "packages/org.example.TesseraQuadrix.xml");
    ProgramResult compiled = run({tool("update-mime-database"), mime.string()});
    EXPECT_EQ(compiled.exitStatus, 0) << compiled.err;
    for (const char* type : {"x-tessera-quadrix-layers", "x-tessera-quadrix-tqlz"}) {
        const std::string xml = qxtest::readFile(mime / "application" / (std::string(type) + ".xml"));
        EXPECT_NE(xml.find("org.example.TesseraQuadrix-layers"), std::string::npos) << type << xml;
    }
    const std::string globs = qxtest::readFile(mime / "globs2");
    EXPECT_NE(globs.find("application/x-tessera-quadrix-layers:*.layers"), std::string::npos) << globs;
    EXPECT_NE(globs.find("application/x-tessera-quadrix-tqlz:*.tqlz"), std::string::npos) << globs;
    EXPECT_TRUE(fs::is_regular_file(share / "icons/hicolor/scalable/mimetypes/org.example.TesseraQuadrix-layers.svg"));

    for (const char* page : {"qxcfg.1.gz", "qxctl.1.gz", "qxvkbd.1.gz"})
        EXPECT_TRUE(fs::is_regular_file(share / "man/man1" / page)) << page;
    EXPECT_TRUE(fs::is_regular_file(share / "doc/tessera-quadrix/copyright"));
    EXPECT_TRUE(fs::is_regular_file(share / "bash-completion/completions/qxctl"));
}

} // namespace
