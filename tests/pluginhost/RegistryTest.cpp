#include "PluginTestSupport.h"
#include "platform/QXText.h"
#include "support/QXTestSupport.h"

#include <gtest/gtest.h>
#include <memory>

namespace fs = std::filesystem;
using qxplugintest::pluginsFolder;

namespace {

std::vector<std::u16string> ids(const QXPluginRegistry& registry) {
    std::vector<std::u16string> list;
    for (const QXPluginEntry::Ptr& entry : registry.plugins())
        list.push_back(entry->id());
    return list;
}

std::unique_ptr<QXPluginRegistry> registryOf(const fs::path& folder) {
    auto root = makeQX<QXPropertyNode>(u"root");
    QXPluginRegistry::scan(folder, *root);
    auto registry = std::make_unique<QXPluginRegistry>();
    registry->build(*root);
    return registry;
}

void writeInfo(const fs::path& folder, const std::string& dict) {
    fs::create_directories(folder);
    qxtest::writeFile(folder / "Info.plist",
                      "<plist version=\"1.0\"><dict>" + dict + "</dict></plist>");
}

TEST(PluginRegistry, ScansEveryReadableFolderInNameOrder) {
    QXPluginRegistry registry;
    auto root = makeQX<QXPropertyNode>(u"root");
    QXPluginRegistry::scan(pluginsFolder(), *root);
    registry.build(*root);
    // NoInfo has no Info.plist and MalformedInfo an unreadable one: both skipped. Only
    // the first entry of GoodPlugin's Info.plist counts.
    EXPECT_EQ(ids(registry), (std::vector<std::u16string>{
                                 u"test.good", u"test.nofactory", u"test.nullfactory",
                                 u"test.other", u"test.throwingfactory", u"test.unloadable"}));
    EXPECT_TRUE(root->findChild(u"Plugins")->findChild(u"test.good")) << "scan fills \"Plugins\"";

    QXPluginEntry::Ptr good = registry.find(u"test.good");
    ASSERT_TRUE(good);
    EXPECT_FALSE(registry.find(u"TEST.GOOD")) << "identifiers compare exactly";
    EXPECT_EQ(good->path(), pluginsFolder() / "GoodPlugin" / "GoodPlugin.so")
        << "the Path written in Info.plist is replaced";
    EXPECT_EQ(good->displayName(), u"Good test plug-in");
    ASSERT_EQ(good->views().size(), 2u);
    const QXViewEntry* view = good->findView(u"color.view");
    ASSERT_TRUE(view);
    EXPECT_TRUE(view->hasUI) << "<true/> reads as \"true\"";
    EXPECT_EQ(view->defaultAction, u"log.action");
    EXPECT_FALSE(good->findView(u"unknown.view")->hasUI) << "missing HasUI is false";
    EXPECT_FALSE(good->findAction(u"log.action")->hasUI) << "\"True\" is not \"true\"";
    EXPECT_EQ(good->findAction(u"log.action")->defaultView, u"color.view");
    EXPECT_FALSE(good->findCondition(u"switch.condition")->hasUI) << "\"1\" is not \"true\"";
    EXPECT_FALSE(good->findView(u"log.action"));
}

TEST(PluginRegistry, LaterDefinitionsReplaceEarlierOnesAtTheEnd) {
    qxtest::TempDir dir;
    const fs::path plugins = dir / "Plugins";
    writeInfo(plugins / "A",
              "<key>dup</key><dict><key>DisplayName</key><string>from A</string></dict>");
    writeInfo(plugins / "B", "<key>solo</key><dict/>");
    writeInfo(plugins / "C",
              "<key>dup</key><dict><key>DisplayName</key><string>from C</string>"
              "<key>Views</key><dict>"
              "<key>v</key><dict><key>DisplayName</key><string>first</string></dict>"
              "<key>w</key><dict/>"
              "<key>v</key><dict><key>DisplayName</key><string>second</string></dict>"
              "</dict></dict>");
    writeInfo(plugins / "D", ""); // an empty top dictionary
    fs::create_directories(plugins / "E");
    qxtest::writeFile(plugins / "E" / "Info.plist", "not a property list");

    auto registry = registryOf(plugins);
    EXPECT_EQ(ids(*registry), (std::vector<std::u16string>{u"solo", u"dup"}));
    QXPluginEntry::Ptr dup = registry->find(u"dup");
    EXPECT_EQ(dup->displayName(), u"from C");
    EXPECT_EQ(dup->path(), plugins / "C" / "C.so");
    ASSERT_EQ(dup->views().size(), 2u);
    EXPECT_EQ(dup->findView(u"v")->displayName, u"second") << "the later view definition wins";

    EXPECT_TRUE(registryOf(dir / "no such folder")->plugins().empty());
}

TEST(PluginRegistry, LoadsEachLibraryOnceAndKeepsTheReasonItFailed) {
    auto registry = registryOf(pluginsFolder());

    QXPluginEntry::Ptr good = registry->find(u"test.good");
    EXPECT_TRUE(good->ensureLoaded());
    EXPECT_TRUE(good->createView() && good->createAction() && good->createCondition());
    EXPECT_TRUE(good->loadError().empty());

    QXPluginEntry::Ptr partial = registry->find(u"test.nullfactory");
    EXPECT_TRUE(partial->ensureLoaded());
    EXPECT_TRUE(partial->loadError().empty()) << "two factories of three are enough";
    EXPECT_FALSE(partial->createView());
    EXPECT_TRUE(partial->createAction() && partial->createCondition());

    QXPluginEntry::Ptr none = registry->find(u"test.nofactory");
    EXPECT_TRUE(none->ensureLoaded()) << "the library stays loaded";
    EXPECT_EQ(none->loadError(), u"No factory functions");

    QXPluginEntry::Ptr unloadable = registry->find(u"test.unloadable");
    EXPECT_FALSE(unloadable->ensureLoaded());
    const std::string error = toUtf8(unloadable->loadError());
    EXPECT_NE(error.find("qxNoSuchFunction"), std::string::npos) << error;
    EXPECT_FALSE(unloadable->createView());
}

TEST(PluginRegistry, AFailedLibraryIsNotReadAgain) {
    qxtest::TempDir dir;
    const fs::path plugins = dir / "Plugins";
    writeInfo(plugins / "Bad", "<key>bad</key><dict/>");
    qxtest::writeFile(plugins / "Bad" / "Bad.so", "this is not a library");

    auto registry = registryOf(plugins);
    QXPluginEntry::Ptr bad = registry->find(u"bad");
    EXPECT_FALSE(bad->ensureLoaded());
    const std::u16string error = bad->loadError();
    EXPECT_FALSE(error.empty());
    EXPECT_NE(error.back(), u'\n');

    // A working library in its place is not looked at again in this run.
    fs::copy_file(pluginsFolder() / "GoodPlugin" / "GoodPlugin.so", plugins / "Bad" / "Bad.so",
                  fs::copy_options::overwrite_existing);
    EXPECT_FALSE(bad->ensureLoaded());
    EXPECT_FALSE(bad->createView());
    EXPECT_EQ(bad->loadError(), error);
}

TEST(PluginRegistry, SystemMessagesLoseTheirFullStopAndLineBreak) {
    EXPECT_EQ(QXPluginEntry::trimLoadError(u"1234567.\r\n"), u"1234567");
    EXPECT_EQ(QXPluginEntry::trimLoadError(u"a: no such file."), u"a: no such file");
    EXPECT_EQ(QXPluginEntry::trimLoadError(u"a: no such file"), u"a: no such file");
    EXPECT_EQ(QXPluginEntry::trimLoadError(u"ab."), u"ab.") << "three characters stay";
}

} // namespace

namespace {

TEST(QXCtlPlugins, ListsWhatEachPluginOffersAndWhetherItLoads) {
    qxtest::ProgramResult r = qxtest::runProgram(
        {std::string(QX_PROGRAM_DIR) + "/qxctl", "plugins", pluginsFolder().string()});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const std::string good = "test.good\tGood test plug-in\t" +
                             (pluginsFolder() / "GoodPlugin" / "GoodPlugin.so").string() +
                             "\n"
                             "  view\tcolor.view\tColour\tui\tlog.action\n"
                             "  view\tunknown.view\tDeclared, but the library makes none\tno ui\t\n"
                             "  action\tlog.action\tLog\tno ui\tcolor.view\n"
                             "  condition\tswitch.condition\tSwitch\tno ui\n"
                             "  loaded\n";
    EXPECT_EQ(r.out.rfind(good, 0), 0u) << r.out;
    EXPECT_NE(r.out.find("  error: No factory functions\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("undefined symbol: qxNoSuchFunction\n"), std::string::npos) << r.out;
}

} // namespace
