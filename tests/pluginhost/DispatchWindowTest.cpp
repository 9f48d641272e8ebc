// The plug-in host on the program's dispatch window, whose sends from other threads wait
// for the GUI thread: a view's drawing thread must not lock up with a GUI thread that
// deactivates the view, which waits for that very thread.
#include "PluginTestSupport.h"
#include "app/CQXMessageDispatch.h"
#include "platform/QXMessages.h"
#include "support/QXTestSupport.h"

#include <QCoreApplication>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

namespace {

constexpr size_t kEscape = 0;

struct ImageHandler {
    std::atomic<int> frames{0}; // pictures taken; a late message for a hidden view gives none
    std::atomic<bool> offGuiThread{false};
    void changed(const void* view, long) {
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            offGuiThread = true;
        QXPtr<QXViewPluginInstance> live = QXViewPluginInstance::live(view);
        QXViewPluginInstance::Pixels pixels;
        if (live && live->copyImage(pixels))
            ++frames;
    }
};

bool pumpUntil(const std::function<bool()>& condition) {
    return qxtest::waitFor([&] {
        QCoreApplication::processEvents();
        return condition();
    });
}

TEST(PluginDispatchWindow, HidingAViewWhoseThreadIsPublishingDoesNotDeadlock) {
    qxtest::ScopedEnv noDisplay("DISPLAY", "");
    int argc = 1;
    char name[] = "pluginhost_window_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    CQXMessageDispatch dispatch;
    ImageHandler handler;
    dispatch.RegisterHandler(QXM_VIEW_IMAGE_CHANGED, &handler, &ImageHandler::changed);

    QXPluginRegistry registry;
    auto root = makeQX<QXPropertyNode>(u"root");
    QXPluginRegistry::scan(qxplugintest::pluginsFolder(), *root);
    registry.build(*root);
    QXPluginHostFactory factory(registry);
    QXPluginInstanceFactory::setCurrent(&factory);
    QXLayer::Ptr layer = qxplugintest::HostFixture::readLayer(qxplugintest::HostFixture::layerText(
        {{"Escape", qxplugintest::HostFixture::plugin("test.good", "color.view", {{"Stream", "1"}}),
          ""}}));
    QXPluginInstanceFactory::setCurrent(nullptr);
    auto view = layer->getButton(kEscape)->view.dynamicCast<QXViewPluginInstance>();
    layer->activate();
    ASSERT_TRUE(view->pluginInstance());

    // A stuck GUI thread ends the program with a message rather than a time-out.
    std::atomic<bool> finished{false};
    std::thread watchdog([&] {
        if (!qxtest::waitFor([&] { return finished.load(); }, std::chrono::seconds(60))) {
            std::fputs("deadlock: the GUI thread did not come back from hiding the view\n", stderr);
            std::_Exit(1);
        }
    });
    for (int round = 0; round < 5; ++round) {
        view->show();
        const int before = handler.frames;
        ASSERT_TRUE(pumpUntil([&] { return handler.frames >= before + 5; }));
        // The drawing thread is sending its next picture and waits for this thread,
        // which now waits for the drawing thread to stop.
        view->hide();
    }
    finished = true;
    watchdog.join();
    pumpUntil([] { return true; });
    EXPECT_FALSE(handler.offGuiThread) << "2037 is handled on the GUI thread";

    layer.reset();
    view.reset();
    EXPECT_TRUE(pumpUntil([&] { return QXPluginLiveSet::views().size() == 0; }));
    dispatch.shutdown();
}

} // namespace
