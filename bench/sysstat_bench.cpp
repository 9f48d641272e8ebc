// The SysStat keys at rest: the processor time this process spends while a processor, a
// memory and a network key are live on the working thread, in percent of one core, over
// QX_SYSSTAT_BENCH_SECONDS (60 unless set). The views are the built plug-in's, made through
// its exports. The target is under 0.1 %. For comparison, the same figure for three
// listeners that do nothing on the working thread: what its 100 ms ticks alone cost.
#include "QXBenchProcess.h"
#include "KitTestContext.h"
#include "utility/utility.h"

#include <QGuiApplication>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <dlfcn.h>
#include <string>
#include <sys/resource.h>
#include <thread>

namespace {

int benchSeconds() {
    const char* setting = std::getenv("QX_SYSSTAT_BENCH_SECONDS");
    return setting ? std::max(1, std::atoi(setting)) : 60;
}

// Sleeps through the measured time and reports the process's processor time in it.
void measureAtRest(benchmark::State& state) {
    for (auto _ : state) {
        double before = qxProcessSeconds();
        auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(benchSeconds()));
        double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        double used = qxProcessSeconds() - before;
        state.SetIterationTime(wall);
        state.counters["core_percent"] = used / wall * 100.0;
    }
}

struct IdleListener final : IWorkingThreadListener {
    void tick() override {}
    void release() override {}
    virtual ~IdleListener() = default;
};

void BM_WorkingThreadAlone(benchmark::State& state) {
    IdleListener listeners[3];
    for (IdleListener& listener : listeners)
        WorkingThreadAddListener(&listener);
    measureAtRest(state);
    for (IdleListener& listener : listeners)
        WorkingThreadRemoveListener(&listener);
}
BENCHMARK(BM_WorkingThreadAlone)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_ThreeKeysAtRest(benchmark::State& state) {
    if (!QGuiApplication::instance()) {
        static int argc = 1;
        static char name[] = "sysstat_bench";
        static char* argv[] = {name, nullptr};
        if (!std::getenv("QT_QPA_PLATFORM"))
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        new QGuiApplication(argc, argv); // kept to the end: text needs it
    }
    std::string path = std::string(QX_PROGRAM_DIR) + "/Plugins/SysStat/SysStat.so";
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto create =
        library ? reinterpret_cast<QXCreateViewFunction>(dlsym(library, "createView")) : nullptr;
    if (!create) {
        state.SkipWithError("SysStat.so could not be loaded");
        return;
    }
    kittest::KitTestContext contexts[3];
    const char16_t* ids[3] = {u"view.sysstat.cpu", u"view.sysstat.mem", u"view.sysstat.net"};
    IQXViewPluginInstance* views[3] = {};
    for (int i = 0; i < 3; ++i) {
        views[i] = create(ids[i], &contexts[i]);
        views[i]->Activate();
    }
    // The first pictures cost once (fonts load); the figure is about the steady state.
    while (contexts[0].updateCount() < 1 || contexts[1].updateCount() < 1 ||
           contexts[2].updateCount() < 1)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));

    measureAtRest(state);
    state.counters["updates"] =
        contexts[0].updateCount() + contexts[1].updateCount() + contexts[2].updateCount();
    for (IQXViewPluginInstance* view : views) {
        view->Deactivate();
        view->Release();
    }
    for (auto& context : contexts)
        while (context.destroyedCount() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
}
BENCHMARK(BM_ThreeKeysAtRest)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
