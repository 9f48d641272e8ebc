#pragma once

// A large profile for benchmarks: 200 layers in "user_layers", each with all 113 keys
// assigned and a picture file per key. Built once per process in a scratch folder.
#include "model/QXKeyTable.h"
#include "store/QXImage.h"
#include "store/QXProfile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace qxbench {

namespace fs = std::filesystem;
constexpr int kLayers = 200;

inline std::u16string number(int n) {
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
        QXProfile(folders, QXKeyTable::names()).save(*root);
    }
    ~BigProfile() { fs::remove_all(folder); }

    fs::path folder;
    QXProfileFolders folders;
};

inline BigProfile& bigProfile() {
    static BigProfile profile;
    return profile;
}

} // namespace qxbench
