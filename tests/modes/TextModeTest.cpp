// The text-mode condition: under Xvfb with a private session and accessibility bus and a
// real Qt text field, and without any bus, where it must cost nothing once it is gone.
//
// The text-field test comes first: a failed connection holds further attempts back for a
// minute in the whole process, as it does in the program.

#include "ModesTestContext.h"
#include "support/QXXvfb.h"

#include <QCheckBox>
#include <QPointer>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <unistd.h>

namespace {

using modestest::ensureApplication;
using modestest::ModesLibrary;
using modestest::ModesTestContext;
namespace fs = std::filesystem;

struct TextCondition {
    std::unique_ptr<ModesTestContext> context;
    IQXConditionPluginInstance* instance = nullptr;

    explicit TextCondition(const char16_t* val) : context(std::make_unique<ModesTestContext>()) {
        context->SetProperty(u"val", val);
        instance = ModesLibrary::get().createCondition(u"textmode.condition", context.get());
        EXPECT_NE(instance, nullptr);
    }
    ~TextCondition() {
        if (instance)
            instance->Release();
    }
};

// The threads of this process by id, with their names and voluntary context switches.
struct ThreadInfo {
    std::string name;
    long switches = 0;
};
std::map<std::string, ThreadInfo> threads() {
    std::map<std::string, ThreadInfo> result;
    for (const auto& task : fs::directory_iterator("/proc/self/task")) {
        ThreadInfo info;
        std::ifstream status(task.path() / "status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("Name:\t", 0) == 0)
                info.name = line.substr(6);
            else if (line.rfind("voluntary_ctxt_switches:\t", 0) == 0)
                info.switches = std::stol(line.substr(25));
        }
        result[task.path().filename().string()] = info;
    }
    return result;
}

// Whether the text-input watcher runs and has joined the bus (or found there is none).
bool watcherRunning() {
    for (const auto& [id, info] : threads())
        if (info.name == "qx-textinput")
            return true;
    return false;
}

bool installed(const char* path) {
    return access(path, X_OK) == 0;
}

TEST(TextMode, FollowsTheFocusOfARealTextFieldOverTheAccessibilityBus) {
    if (!qxtest::QXXvfb::available() || !installed("/usr/bin/dbus-daemon") ||
        !installed("/usr/bin/dbus-send") || !installed("/usr/libexec/at-spi-bus-launcher"))
        GTEST_SKIP() << "needs Xvfb, dbus-daemon and at-spi2-core";
    ASSERT_NE(ModesLibrary::get().createCondition, nullptr);
    qxtest::QXXvfb xvfb({.windowManager = true});
    ASSERT_EQ(xvfb.error(), "") << xvfb.error();

    // A session bus of our own; the accessibility bus is started by it on demand and
    // announced on our X server.
    qxtest::TempDir dir;
    const std::string address = "unix:path=" + (dir / "bus").string();
    qxtest::ChildProcess sessionBus(
        {"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + address});
    ASSERT_TRUE(qxtest::waitFor([&] { return fs::exists(dir / "bus"); }))
        << "the session bus did not start";
    qxtest::ScopedEnv session("DBUS_SESSION_BUS_ADDRESS", address);
    const qxtest::ProgramResult a11y =
        qxtest::runProgram({"/usr/bin/dbus-send", "--session", "--print-reply",
                            "--dest=org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus.GetAddress"});
    if (a11y.exitStatus != 0)
        GTEST_SKIP() << "the accessibility bus could not be started here: " << a11y.err;

    TextCondition typing(u"true");
    TextCondition notTyping(u"false");
    ASSERT_TRUE(qxtest::waitFor(watcherRunning));
    EXPECT_EQ(typing.context->active(), 0) << "no text input before anything is focused";
    EXPECT_EQ(notTyping.context->active(), 1);

    qxtest::ScopedEnv platform("QT_QPA_PLATFORM", "xcb");
    qxtest::ScopedEnv accessibility("QT_ACCESSIBILITY", "1");
    qxtest::ScopedEnv alwaysOn("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    qxtest::ChildProcess window({QX_TEXT_FIELD_WINDOW});

    EXPECT_TRUE(qxtest::waitFor([&] { return typing.context->active() == 1; }))
        << "the focused text field was not seen";
    EXPECT_EQ(notTyping.context->active(), 0);

    ::kill(window.pid(), SIGUSR1); // the button takes the focus
    EXPECT_TRUE(qxtest::waitFor([&] { return typing.context->active() == 0; }))
        << "the text field losing the focus was not seen";
    EXPECT_EQ(notTyping.context->active(), 1);

    ::kill(window.pid(), SIGUSR2); // and the text field again
    EXPECT_TRUE(qxtest::waitFor([&] { return typing.context->active() == 1; }));

    // The watcher stops with the last condition and starts again with the next.
    typing.instance->Release();
    typing.instance = nullptr;
    notTyping.instance->Release();
    notTyping.instance = nullptr;
    EXPECT_FALSE(watcherRunning());
    TextCondition again(u"true");
    // The watcher names its thread once it has joined the bus.
    ASSERT_TRUE(qxtest::waitFor(watcherRunning));
    // It finds the field that has the focus already, without waiting for a focus change.
    EXPECT_TRUE(qxtest::waitFor([&] { return again.context->active() == 1; }))
        << "a watcher started again does not see the focused field";
    // The window learns that somebody listens again a moment after the watcher does: the
    // focus goes from the field to the button until the watcher has seen it.
    auto lastRound = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    EXPECT_TRUE(qxtest::waitFor([&] {
        if (again.context->active() == 0)
            return true;
        if (std::chrono::steady_clock::now() - lastRound >= std::chrono::milliseconds(500)) {
            lastRound = std::chrono::steady_clock::now();
            ::kill(window.pid(), SIGUSR2);
            ::kill(window.pid(), SIGUSR1);
        }
        return false;
    })) << "a watcher started again does not follow the focus";
    EXPECT_TRUE(window.running());
}

TEST(TextMode, WithoutABusNothingRunsOnceTheLastConditionIsGone) {
    ASSERT_NE(ModesLibrary::get().createCondition, nullptr);
    qxtest::TempDir dir;
    qxtest::ScopedEnv noBus("AT_SPI_BUS_ADDRESS", "unix:path=" + (dir / "none").string());
    const auto before = threads();

    auto first = std::make_unique<TextCondition>(u"true");
    TextCondition inverted(u"false");
    EXPECT_EQ(first->context->active(), 0);
    EXPECT_EQ(inverted.context->active(), 1) << "\"false\" is active while nobody types";

    // The working thread ticks the store while a text-mode condition lives.
    EXPECT_TRUE(qxtest::waitFor(watcherRunning));
    std::string ticking;
    ASSERT_TRUE(qxtest::waitFor([&] {
        for (const auto& [id, info] : threads()) {
            auto old = before.find(id);
            const long base = old == before.end() ? 0 : old->second.switches;
            if (info.name != "qx-textinput" && id != std::to_string(gettid()) &&
                info.switches >= base + 5) {
                ticking = id;
                return true;
            }
        }
        return false;
    })) << "no thread ticks while a text-mode condition lives";

    // Only the exact text "true" means text mode.
    TextCondition capitalised(u"True");
    EXPECT_EQ(capitalised.context->active(), 1);

    // The page's check box stores "val" and reports the state it gives at once.
    ensureApplication();
    QWidget parent;
    IQXPluginGUIController* controller = inverted.instance->GetGUIController();
    ASSERT_NE(controller, nullptr);
    QPointer<QWidget> page = static_cast<QWidget*>(controller->CreateGUI(&parent));
    ASSERT_TRUE(page);
    auto* box = page->findChild<QCheckBox*>(QStringLiteral("textMode"));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), QStringLiteral("Text input mode"));
    EXPECT_FALSE(box->isChecked());
    box->click();
    EXPECT_EQ(inverted.context->property(u"val"), u"true");
    EXPECT_EQ(inverted.context->active(), 0) << "text mode now, and nobody types";
    box->click();
    EXPECT_EQ(inverted.context->property(u"val"), u"false");
    EXPECT_EQ(inverted.context->active(), 1);
    EXPECT_EQ(controller->DestroyGUI(), 1);
    EXPECT_FALSE(page);

    capitalised.instance->Release();
    capitalised.instance = nullptr;
    first.reset();
    EXPECT_TRUE(watcherRunning()) << "one condition still lives";
    inverted.instance->Release();
    inverted.instance = nullptr;
    EXPECT_FALSE(watcherRunning()) << "the last condition went, and the watcher with it";
    const long quiet = threads()[ticking].switches;
    EXPECT_FALSE(qxtest::waitFor([&] { return threads()[ticking].switches > quiet + 1; },
                                 std::chrono::seconds(1)))
        << "the working thread still wakes up with no text-mode condition left";
    EXPECT_EQ(inverted.context->destroyed(), 1);
}

} // namespace
