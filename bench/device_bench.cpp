// Pushing all 113 keys to a keyboard: pictures converted to the keyboard's format,
// compared with what it has, staged, and written by the device thread. Once with every
// picture changed, once with nothing changed (nothing may be staged or written).
#include "QXBenchKeyboard.h"
#include "device/QXDeviceController.h"
#include "model/QXKeyTable.h"
#include "platform/QXDispatch.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <thread>

namespace {

struct ConnectedState : QXSystemState {
    bool isKeyboardConnected() const override { return true; }
};

QXPtr<QXImage> solid(uint8_t shade) {
    fipImage pixels(FIT_BITMAP, 48, 48, 24);
    for (unsigned y = 0; y < 48; ++y)
        std::memset(pixels.getScanLine(y), shade, 144);
    return makeQX<QXImage>(pixels);
}

// A connected keyboard and one layer assigning every key.
struct Rig {
    Rig() {
        QXDispatch::setCurrent(&dispatch);
        QXSystemState::setCurrent(&state);
        layer = makeQX<QXLayer>(u"layer");
        tree.topLevel() = {layer};
        for (auto& set : pictures)
            for (size_t key = 0; key < QXKeyTable::keyCount(); ++key)
                set.push_back(solid(static_cast<uint8_t>((&set == &pictures[0] ? 20 : 140) + key)));
        use(0);
        layers = std::make_unique<QXLayersController>(tree, dispatch);
        layers->reevaluate();
        device = std::make_unique<QXDevice>(QXDeviceDiscovery::createVirtualBackend(keyboard.folder()));
        controller = std::make_unique<QXDeviceController>(*device, *layers, [] { return std::nullopt; });
        controller->setPause([] {});
        device->discoverAndConnect();
        settle();
    }
    ~Rig() {
        controller.reset();
        device.reset();
        layers.reset();
        QXSystemState::setCurrent(nullptr);
        QXDispatch::setCurrent(nullptr);
    }
    void use(int set) {
        for (size_t key = 0; key < QXKeyTable::keyCount(); ++key)
            layer->getButton(key)->image = pictures[set][key];
    }
    // Waits until the device thread wrote everything staged so far: a new brightness is
    // staged behind it and is the last record of a write pass.
    void settle() {
        static unsigned level = 0;
        level = (level + 1) % 100;
        controller->setBrightness(level, false);
        char expected[8];
        std::snprintf(expected, sizeof expected, "b%03u", level);
        const auto file = keyboard.folder() / "kb" / "disk" / "vTessera" / "order.sys";
        for (;;) {
            std::ifstream in(file, std::ios::binary);
            std::string text(4, '\0');
            if (in.read(text.data(), 4) && text == expected)
                return;
            std::this_thread::yield();
        }
    }

    QXBenchKeyboard keyboard;
    QXDispatch dispatch;
    ConnectedState state;
    QXLayerTree tree;
    QXLayer::Ptr layer;
    std::vector<QXPtr<QXImage>> pictures[2];
    std::unique_ptr<QXLayersController> layers;
    std::unique_ptr<QXDevice> device;
    std::unique_ptr<QXDeviceController> controller;
};

void BM_PushAllKeysEverythingChanged(benchmark::State& st) {
    Rig rig;
    int set = 0;
    uint64_t bytes = 0;
    for (auto _ : st) {
        st.PauseTiming();
        set ^= 1;
        rig.use(set);
        const uint64_t before = rig.device->files().bytesWritten();
        st.ResumeTiming();
        rig.controller->pushAllKeys();
        // The write pass: 113 display files.
        while (rig.device->files().bytesWritten() - before < 113u * 4608u)
            std::this_thread::yield();
        bytes += rig.device->files().bytesWritten() - before;
    }
    st.counters["bytes_per_push"] = benchmark::Counter(double(bytes) / double(st.iterations()));
}
BENCHMARK(BM_PushAllKeysEverythingChanged)->Unit(benchmark::kMillisecond);

void BM_PushAllKeysNothingChanged(benchmark::State& st) {
    Rig rig;
    const uint64_t before = rig.device->files().bytesWritten();
    for (auto _ : st)
        rig.controller->pushAllKeys();
    rig.settle(); // anything staged by the pushes would be written before this
    const uint64_t written = rig.device->files().bytesWritten() - before - 512; // the marker
    st.counters["bytes_per_push"] = benchmark::Counter(double(written) / double(st.iterations()));
}
BENCHMARK(BM_PushAllKeysNothingChanged)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
