// Reading and writing a large profile: 200 layers, each with all 113 keys assigned
// and a picture file per key. Pictures are referenced, not decoded, as at start-up.
#include "model/QXKeyTable.h"
#include "model/QXLayerTree.h"
#include "model/QXLayoutPicture.h"
#include "store/QXImage.h"
#include "store/QXProfile.h"
#include "store/QXPropertyList.h"
#include "model/QXLayersItem.h"
#include "QXBenchProfile.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace fs = std::filesystem;

namespace {

using namespace qxbench;

void BM_LoadProfile(benchmark::State& state) {
    QXProfile profile(bigProfile().folders, QXKeyTable::names());
    for (auto _ : state) {
        QXPropertyNode::Ptr root = profile.load();
        benchmark::DoNotOptimize(root);
    }
    state.SetItemsProcessed(state.iterations() * kLayers);
}
BENCHMARK(BM_LoadProfile)->Unit(benchmark::kMillisecond);

void BM_SaveProfile(benchmark::State& state) {
    QXProfile profile(bigProfile().folders, QXKeyTable::names());
    QXPropertyNode::Ptr root = profile.load();
    for (auto _ : state)
        benchmark::DoNotOptimize(profile.save(*root));
    state.SetItemsProcessed(state.iterations() * kLayers);
}
BENCHMARK(BM_SaveProfile)->Unit(benchmark::kMillisecond);

// The start-up read into the layer model: 200 layers, every button with its picture
// referenced. No picture may be decoded before a key shows it.
void BM_LoadLayerTree(benchmark::State& state) {
    QXProfile profile(bigProfile().folders, QXKeyTable::names());
    unsigned long long decoded = 0;
    for (auto _ : state) {
        const auto before = QXImage::decodeCount();
        QXPropertyNode::Ptr root = profile.load();
        QXLayerTree tree;
        tree.loadFrom(*root->findChild(u"Layers"));
        decoded += QXImage::decodeCount() - before;
        benchmark::DoNotOptimize(tree);
    }
    state.counters["pictures_decoded"] = static_cast<double>(decoded);
    state.SetItemsProcessed(state.iterations() * kLayers);
}
BENCHMARK(BM_LoadLayerTree)->Unit(benchmark::kMillisecond);

// The picture of one layer on the whole keyboard: the template and 113 key pictures
// decoded from their files.
void BM_ComposeLayoutPicture(benchmark::State& state) {
    QXProfile profile(bigProfile().folders, QXKeyTable::names());
    QXPropertyNode::Ptr root = profile.load();
    QXLayerTree tree;
    tree.loadFrom(*root->findChild(u"Layers"));
    QXLayer::Ptr layer = tree.find(u"{00000000-0000-0000-0000-000000000000}").dynamicCast<QXLayer>();
    for (auto _ : state) {
        QXImage picture = QXLayoutPicture::compose(*layer);
        benchmark::DoNotOptimize(picture);
    }
}
BENCHMARK(BM_ComposeLayoutPicture)->Unit(benchmark::kMillisecond);

} // namespace

// A hostile layer file: one "Buttons" dictionary of N distinct keys, read into a layer
// as an import does. Reading must stay linear: compare the time per key at 10k and 80k
// (the big-O line of the output should say N, not N^2).
void BM_ReadWideLayerFile(benchmark::State& state) {
    const auto keys = static_cast<int>(state.range(0));
    std::string text = "<plist><dict><key>Buttons</key><dict>";
    for (int i = 0; i < keys; ++i)
        text += "<key>k" + std::to_string(i) + "</key><dict><key>Keystroke</key><string>x</string></dict>";
    text += "</dict></dict></plist>";
    for (auto _ : state) {
        QXPropertyNode::Ptr node = parsePropertyList(text, u"{wide}");
        QXLayersItem::Ptr layer = createItem(*node);
        benchmark::DoNotOptimize(layer);
    }
    state.SetComplexityN(keys);
    state.SetItemsProcessed(state.iterations() * keys);
}
BENCHMARK(BM_ReadWideLayerFile)
    ->Arg(10000)->Arg(40000)->Arg(80000)
    ->Unit(benchmark::kMillisecond)->Complexity();

// The same for a group whose order lists N items (each an empty layer).
void BM_ReadLongItemOrder(benchmark::State& state) {
    const auto items = static_cast<int>(state.range(0));
    std::string text = "<plist><dict><key>ItemOrder</key><array>";
    for (int i = 0; i < items; ++i)
        text += "<string>{" + std::to_string(i) + "}</string>";
    text += "</array></dict></plist>";
    for (auto _ : state) {
        QXPropertyNode::Ptr node = parsePropertyList(text, u"{long}");
        node->addChild(u"Type", u"Group");
        QXLayersItem::Ptr group = createItem(*node);
        benchmark::DoNotOptimize(group);
    }
    state.SetComplexityN(items);
}
// Every layer holds its 113 buttons, so the sizes stay below the wide file's.
BENCHMARK(BM_ReadLongItemOrder)
    ->Arg(2000)->Arg(8000)->Arg(16000)
    ->Unit(benchmark::kMillisecond)->Complexity();

// What showing one key picture costs: the file is read, sized from its header and
// decoded in the bounded decoder process, then made 24 bits over black.
void BM_DecodeKeyPicture(benchmark::State& state) {
    const fs::path file = fs::temp_directory_path() / "qx-bench-key.png";
    {
        fipImage picture(FIT_BITMAP, 48, 48, 32);
        for (unsigned y = 0; y < 48; ++y)
            for (unsigned x = 0; x < 48; ++x) {
                BYTE* pixel = picture.getScanLine(y) + x * 4;
                pixel[FI_RGBA_RED] = BYTE(x * 5);
                pixel[FI_RGBA_GREEN] = BYTE(y * 5);
                pixel[FI_RGBA_BLUE] = 128;
                pixel[FI_RGBA_ALPHA] = BYTE((x + y) * 2);
            }
        picture.save(file.c_str());
    }
    for (auto _ : state) {
        QXImage image;
        benchmark::DoNotOptimize(image.loadFile(file));
        fipImage copy(image);
        benchmark::DoNotOptimize(QXImage::to24Bits(copy));
    }
    fs::remove(file);
}
BENCHMARK(BM_DecodeKeyPicture)->Unit(benchmark::kMillisecond);

// A whole keyboard of key pictures read together, as showing a newly selected layer does.
void BM_DecodeKeyboardOfPictures(benchmark::State& state) {
    const fs::path folder = fs::temp_directory_path() / "qx-bench-keys";
    fs::create_directories(folder);
    std::vector<QXPtr<QXImage>> images;
    for (int key = 0; key < 113; ++key) {
        fipImage picture(FIT_BITMAP, 48, 48, 24);
        for (unsigned y = 0; y < 48; ++y)
            for (unsigned x = 0; x < 48; ++x)
                picture.getScanLine(y)[x * 3] = BYTE(x * 5 + key);
        const fs::path file = folder / (std::to_string(key) + ".png");
        picture.save(file.c_str());
        images.push_back(QXImage::fromFile(file));
    }
    std::vector<QXImage*> pointers;
    for (const QXPtr<QXImage>& image : images)
        pointers.push_back(image.get());
    for (auto _ : state) {
        for (QXImage* image : pointers)
            image->unload();
        QXImage::loadSources(pointers);
        benchmark::DoNotOptimize(pointers.back()->isLoaded());
    }
    fs::remove_all(folder);
}
BENCHMARK(BM_DecodeKeyboardOfPictures)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
