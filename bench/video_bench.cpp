// A video key playing: the processor time this process spends while one key of the built
// Video plug-in plays a 640x360 clip at 30 frames a second, in percent of one core, over
// 10 s, and the frames that reached the key per second (UpdateImage calls). The clip is
// made first with gst-launch-1.0 (Theora in Ogg, a moving test pattern, looping, so the
// measured time is all playback). The target is under 5 % of one core, at the clip's rate.
#include "QXBenchProcess.h"
#include "KitTestContext.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <thread>

namespace {

void BM_VideoKeyPlaying(benchmark::State& state) {
    char folder[] = "/tmp/qxvideobench-XXXXXX";
    if (!::mkdtemp(folder)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string clip = std::string(folder) + "/clip.ogv";
    const std::string make =
        "gst-launch-1.0 -q videotestsrc num-buffers=360 pattern=ball motion=sweep ! "
        "video/x-raw,width=640,height=360,framerate=30/1 ! videoconvert ! theoraenc ! oggmux ! "
        "filesink location=" +
        clip;
    void* library = dlopen(QX_PROGRAM_DIR "/Plugins/Video/Video.so", RTLD_NOW | RTLD_LOCAL);
    auto create =
        library ? reinterpret_cast<QXCreateViewFunction>(dlsym(library, "createView")) : nullptr;
    if (std::system(make.c_str()) != 0 || !create) {
        state.SkipWithError("the clip or Video.so could not be made or loaded");
        std::filesystem::remove_all(folder);
        return;
    }
    kittest::KitTestContext context;
    context.SetProperty(u"Path", std::filesystem::path(clip).u16string().c_str());
    context.SetProperty(u"Looping", u"true");
    IQXViewPluginInstance* view = create(u"video.view", &context);
    view->Activate();
    // Start-up (finding the decoders and an audio output) costs once; the figure is about
    // playing.
    while (context.updateCount() < 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));

    for (auto _ : state) {
        const int updatesBefore = context.updateCount();
        const double before = qxProcessSeconds();
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(wall);
        state.counters["core_percent"] = (qxProcessSeconds() - before) / wall * 100.0;
        state.counters["updates_per_second"] = (context.updateCount() - updatesBefore) / wall;
    }
    view->Release();
    while (context.destroyedCount() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_VideoKeyPlaying)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
