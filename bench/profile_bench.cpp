// Reading and writing a large profile: 200 layers, each with all 113 keys assigned
// and a picture file per key. Pictures are referenced, not decoded, as at start-up.
#include "model/QXKeyTable.h"
#include "model/QXLayerTree.h"
#include "model/QXLayoutPicture.h"
#include "store/QXImage.h"
#include "store/QXProfile.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr int kLayers = 200;

std::vector<std::u16string> keyNames() {
    std::vector<std::u16string> names;
    for (const QXKeyRecord& key : QXKeyTable::keys())
        names.emplace_back(key.name);
    return names;
}

std::u16string number(int n) {
    std::string s = std::to_string(n);
    return std::u16string(s.begin(), s.end());
}

// Builds the profile once per process in a scratch folder.
struct BigProfile {
    BigProfile() {
        std::string pattern = (fs::temp_directory_path() / "qxbench-XXXXXX").string();
        folder = ::mkdtemp(pattern.data());
        folders = {folder / "profile", folder / "tmp", folder / "program"};
        fs::create_directories(folders.temporary);

        fipImage picture(FIT_BITMAP, 48, 48, 24);
        fs::path source = folder / "key.png";
        picture.save(source.c_str());

        auto root = makeQX<QXPropertyNode>(u"root");
        auto layers = root->addChild(u"Layers");
        layers->addChild(u"DisplayName", u"root");
        auto order = layers->addChild(u"ItemOrder");
        auto user = order->addChild(u"user_layers");
        user->addChild(u"Type", u"Group");
        user->addChild(u"DisplayName", u"Layers");
        auto items = user->addChild(u"ItemOrder");
        for (int l = 0; l < kLayers; ++l) {
            char id[64];
            std::snprintf(id, sizeof id, "{00000000-0000-0000-0000-%012d}", l);
            auto layer = items->addChild(std::u16string(id, id + std::strlen(id)));
            layer->addChild(u"DisplayName", u"Layer " + number(l));
            layer->addChild(u"Disabled", u"false");
            auto buttons = layer->addChild(u"Buttons");
            for (const QXKeyRecord& key : QXKeyTable::keys()) {
                auto button = buttons->addChild(std::u16string(key.name));
                auto image = QXImage::fromFile(source);
                image->setChanged(true);
                button->addChild(u"Image", std::u16string(key.name), image);
                button->addChild(u"ActionCode", number(key.actionCode));
            }
        }
        QXProfile(folders, keyNames()).save(*root);
    }
    ~BigProfile() { fs::remove_all(folder); }

    fs::path folder;
    QXProfileFolders folders;
};

BigProfile& bigProfile() {
    static BigProfile profile;
    return profile;
}

void BM_LoadProfile(benchmark::State& state) {
    QXProfile profile(bigProfile().folders, keyNames());
    for (auto _ : state) {
        QXPropertyNode::Ptr root = profile.load();
        benchmark::DoNotOptimize(root);
    }
    state.SetItemsProcessed(state.iterations() * kLayers);
}
BENCHMARK(BM_LoadProfile)->Unit(benchmark::kMillisecond);

void BM_SaveProfile(benchmark::State& state) {
    QXProfile profile(bigProfile().folders, keyNames());
    QXPropertyNode::Ptr root = profile.load();
    for (auto _ : state)
        benchmark::DoNotOptimize(profile.save(*root));
    state.SetItemsProcessed(state.iterations() * kLayers);
}
BENCHMARK(BM_SaveProfile)->Unit(benchmark::kMillisecond);

// The start-up read into the layer model: 200 layers, every button with its picture
// referenced. No picture may be decoded before a key shows it.
void BM_LoadLayerTree(benchmark::State& state) {
    QXProfile profile(bigProfile().folders, keyNames());
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
    QXProfile profile(bigProfile().folders, keyNames());
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

BENCHMARK_MAIN();
