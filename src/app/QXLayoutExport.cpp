#include "app/QXLayoutExport.h"

#include "app/QXLiveSystemState.h"
#include "device/QXDeviceController.h"
#include "device/QXDiskFiles.h"
#include "model/QXKeyTable.h"
#include "model/QXLayersController.h"
#include "model/QXLayoutPicture.h"
#include "platform/QXDispatch.h"

#include <array>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Conditions answered as the running program would with the keyboard connected and only
// the given modifiers held; applications and the keyboard layout are the system's.
class DumpState : public QXLiveSystemState {
public:
    uint32_t modifiers = 0;
    uint32_t modifierState() const override { return modifiers; }
    bool isKeyboardConnected() const override { return true; }
};

// Restores the state and the instance factory that were current, also on the way out of
// an exception.
class ScopedCurrent {
public:
    explicit ScopedCurrent(const QXSystemState& state)
        : m_state(QXSystemState::current()), m_factory(QXPluginInstanceFactory::current()) {
        QXSystemState::setCurrent(&state);
    }
    ~ScopedCurrent() {
        QXSystemState::setCurrent(&m_state);
        QXPluginInstanceFactory::setCurrent(&m_factory);
    }
    ScopedCurrent(const ScopedCurrent&) = delete;
    ScopedCurrent& operator=(const ScopedCurrent&) = delete;

private:
    const QXSystemState& m_state;
    QXPluginInstanceFactory& m_factory;
};

} // namespace

namespace QXLayoutExport {

bool dumpToFolder(const QXLayerTree& tree, const fs::path& folder, std::string* error) {
    constexpr uint32_t kShift = 4;
    const size_t keys = QXKeyTable::keyCount();
    std::vector<std::array<uint8_t, QXKeyViewInstance::kImageBytes>> pixels(2 * keys);
    std::vector<QXBitmapView> normal(keys), shift(keys);
    QXDiskFiles::CodeTable codes;
    codes.fill(0xFF);

    DumpState state;
    {
        ScopedCurrent current(state);
        // A copy made of inert instances: the pictures are shared (they are only read),
        // the flags and the plug-ins of the live tree stay as they are.
        QXPluginInstanceFactory::setCurrent(nullptr);
        QXPropertyNode root(u"root");
        tree.saveTo(root);
        QXLayerTree copy;
        if (QXPropertyNode::Ptr layers = root.findChild(u"Layers"))
            copy.loadFrom(*layers);

        QXDispatch dispatch;
        QXLayersController controller(copy, dispatch);
        for (int pass = 0; pass < 2; ++pass) {
            state.modifiers = pass == 0 ? 0 : kShift;
            controller.reevaluate();
            QXCompositeLayer stack = controller.dumpStack();
            std::vector<QXBitmapView>& views = pass == 0 ? normal : shift;
            for (size_t key = 0; key < keys; ++key) {
                QXButton* button = stack.getButton(key);
                auto& bytes = pixels[pass * keys + key];
                if (button && keyboardPicture(*button, bytes))
                    views[key] = {bytes.data(), 48, 48, 24, 48 * 3};
                if (pass == 0)
                    if (const uint8_t code = keyboardCode(button, key))
                        QXDiskFiles::setPlainEntry(codes, key, code);
            }
        }
    }
    if (!QXDiskFiles::dumpToFolder(fs::absolute(folder), normal, shift, codes)) {
        if (error)
            *error = "cannot write the keyboard's files to " + folder.string();
        return false;
    }
    return true;
}

bool saveLayerImage(const QXLayer& layer, const fs::path& file, std::string* error) {
    QXImage picture = QXLayoutPicture::compose(layer);
    if (!picture.isLoaded()) {
        if (error)
            *error = "the keyboard template picture cannot be read";
        return false;
    }
    if (!picture.saveFile(fs::absolute(file))) {
        if (error)
            *error = "cannot write " + file.string() +
                     " (the name must end in a picture format such as .png)";
        return false;
    }
    return true;
}

QXLayer::Ptr layerFromImage(const fs::path& file, std::u16string name, std::string* error) {
    QXImage picture;
    if (!picture.loadFile(fs::absolute(file))) {
        if (error)
            *error = "cannot read the picture " + file.string();
        return {};
    }
    if (picture.getWidth() != QXLayoutPicture::kWidth || picture.getHeight() != QXLayoutPicture::kHeight) {
        if (error)
            *error = "the picture must be " + std::to_string(QXLayoutPicture::kWidth) + " x " +
                     std::to_string(QXLayoutPicture::kHeight) +
                     " pixels, like the layer pictures this program writes";
        return {};
    }
    QXItemList scratch;
    QXLayer::Ptr layer = createLayer(scratch);
    layer->setDisplayName(std::move(name));
    QXLayoutPicture::takeBack(*layer, picture);
    return layer;
}

} // namespace QXLayoutExport
