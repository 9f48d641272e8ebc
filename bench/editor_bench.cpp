// The editor's keyboard view on the shipped default profile: what rebuilding every key
// picture after 2035 costs, what one full repaint at the picture's own size (1312 x 376)
// costs against a 60 Hz frame (16 ms), and what an open view nobody touches costs over
// 10 s (the target is no repaint and next to no processor time).
#include "editor/CQXLayersView.h"
#include "model/QXKeyTable.h"
#include "model/QXLayerTree.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"
#include "store/QXProfile.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <ctime>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

struct Editor {
    Editor()
        : folder(::mkdtemp(pattern.data())),
          profile({folder / "profile", folder / "tmp", fs::path(QX_PROGRAM_DIR)}, QXKeyTable::names()) {
        fs::create_directories(folder / "tmp");
        tree.ensureFixedItems(profile);
        controller = std::make_unique<QXLayersController>(tree, dispatch);
        controller->selectItem(tree.find(u"default_buttons"));
        view = std::make_unique<CQXLayersView>(*controller, dispatch);
        view->resize(1312, 376);
        view->show();
        QApplication::processEvents();
    }
    ~Editor() {
        view.reset();
        controller.reset();
        fs::remove_all(folder);
    }

    std::string pattern = (fs::temp_directory_path() / "qxbench-editor-XXXXXX").string();
    fs::path folder;
    QXProfile profile;
    QXDispatch dispatch;
    QXLayerTree tree;
    std::unique_ptr<QXLayersController> controller;
    std::unique_ptr<CQXLayersView> view;
};

// Made on first use and destroyed before the application object.
std::unique_ptr<Editor> g_editor;

Editor& editor() {
    if (!g_editor)
        g_editor = std::make_unique<Editor>();
    return *g_editor;
}

void BM_RebuildAllKeyImagesAfterLayersChanged(benchmark::State& state) {
    Editor& e = editor();
    for (auto _ : state)
        e.dispatch.Send(QXM_LAYERS_CHANGED);
    QApplication::processEvents();
}
BENCHMARK(BM_RebuildAllKeyImagesAfterLayersChanged)->Unit(benchmark::kMillisecond);

void BM_RepaintWholeView1312x376(benchmark::State& state) {
    Editor& e = editor();
    e.view->selectKeys({42, 64});
    for (auto _ : state)
        e.view->repaint();
    state.counters["budget_ms"] = 16;
}
BENCHMARK(BM_RepaintWholeView1312x376)->Unit(benchmark::kMillisecond);

double processorSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void BM_UntouchedViewFor10Seconds(benchmark::State& state) {
    Editor& e = editor();
    QApplication::processEvents();
    for (auto _ : state) {
        const unsigned long painted = e.view->paintCount();
        const double before = processorSeconds();
        QEventLoop loop;
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        state.counters["repaints"] = static_cast<double>(e.view->paintCount() - painted);
        state.counters["cpu_ms"] = (processorSeconds() - before) * 1000.0;
    }
}
BENCHMARK(BM_UntouchedViewFor10Seconds)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    g_editor.reset();
    benchmark::Shutdown();
    return 0;
}
