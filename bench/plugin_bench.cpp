// Pictures from view plug-ins to the GUI thread: a worker thread publishes a key's
// picture with UpdateImage, which copies it into the host buffer and sends 2037 over
// the program's dispatch window; a handler on the GUI thread (a QCoreApplication loop
// on the main thread) checks the view is live and copies the picture out, as the
// device controller does. Measured: the round trip of one publication, the frames per
// second one key reaches, and the frames per second of all 113 keys publishing at once.
// The views are the test plug-in's (tests/Plugins), shown on a layer of 113 keys.
#include "app/CQXMessageDispatch.h"
#include "model/QXKeyTable.h"
#include "model/QXLayersItem.h"
#include "platform/QXMessages.h"
#include "pluginhost/QXPluginHostFactory.h"

#include <QCoreApplication>
#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

// What the device controller does with 2037.
struct PictureTaker {
    std::atomic<long> taken{0};
    void changed(const void* view, long) {
        QXPtr<QXViewPluginInstance> live = QXViewPluginInstance::live(view);
        QXViewPluginInstance::Pixels pixels;
        if (live && live->copyImage(pixels))
            taken.fetch_add(1, std::memory_order_relaxed);
    }
};

std::vector<QXPtr<QXViewPluginInstance>> g_views;

void BM_OneKeyRoundTrip(benchmark::State& state) {
    QXViewPluginInstance& view = *g_views.front();
    for (auto _ : state)
        view.UpdateImage(); // returns once the GUI thread has taken the picture
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("items/s = frames per second of one key");
}
BENCHMARK(BM_OneKeyRoundTrip)->UseRealTime();

void BM_AllKeysTogether(benchmark::State& state) {
    QXViewPluginInstance& view = *g_views[static_cast<size_t>(state.thread_index())];
    for (auto _ : state)
        view.UpdateImage();
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0)
        state.SetLabel("items/s = frames per second of all keys together");
}
BENCHMARK(BM_AllKeysTogether)->Threads(int(QXKeyTable::kKeyCount))->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    unsetenv("DISPLAY"); // no keyboard hook on the desktop: only the dispatch is measured
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    CQXMessageDispatch dispatch;
    PictureTaker taker;
    dispatch.RegisterHandler(QXM_VIEW_IMAGE_CHANGED, &taker, &PictureTaker::changed);

    QXPluginRegistry registry;
    auto root = makeQX<QXPropertyNode>(u"root");
    QXPluginRegistry::scan(QX_TEST_PLUGINS_DIR, *root);
    registry.build(*root);
    QXPluginHostFactory factory(registry);
    QXItemList items;
    QXLayer::Ptr layer = createLayer(items);
    for (size_t key = 0; key < QXKeyTable::kKeyCount; ++key) {
        QXPtr<QXViewPluginInstance> view =
            factory.newView(registry.find(u"test.good"), u"color.view", int(key));
        if (!view) {
            std::fprintf(stderr, "the test plug-ins are not built in %s\n", QX_TEST_PLUGINS_DIR);
            return 1;
        }
        layer->setView(key, view);
        g_views.push_back(view);
    }
    layer->activate();
    for (const QXPtr<QXViewPluginInstance>& view : g_views)
        view->show();

    std::thread runner([&] {
        benchmark::RunSpecifiedBenchmarks();
        QMetaObject::invokeMethod(
            &application, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    });
    application.exec();
    runner.join();
    std::printf("pictures taken by the GUI thread: %ld\n", taker.taken.load());

    g_views.clear();
    layer.reset();
    items.clear();
    dispatch.shutdown();
    benchmark::Shutdown();
    return 0;
}
