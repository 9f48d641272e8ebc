#include "ButtonSets.h"

#include "KeyLabels.h"
#include "model/QXKeyTable.h"
#include "store/QXImage.h"
#include "store/QXProfile.h"

#include <QPainter>
#include <cstdio>

namespace {

QString toQString(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::vector<std::u16string> keyNames() {
    std::vector<std::u16string> names;
    for (const QXKeyRecord& key : QXKeyTable::keys())
        names.emplace_back(key.name);
    return names;
}

// The keyboard shows 24-bit pictures, so the transparent corners of a key face become black
// here rather than wherever the picture ends up.
QXPtr<QXImage> toKeyImage(const QImage& picture) {
    QImage flat(picture.size(), QImage::Format_RGB888);
    flat.fill(Qt::black);
    QPainter(&flat).drawImage(0, 0, picture);

    auto image = makeQX<QXImage>();
    const unsigned width = static_cast<unsigned>(flat.width());
    const unsigned height = static_cast<unsigned>(flat.height());
    image->setSize(FIT_BITMAP, width, height, 24);
    for (unsigned y = 0; y < height; ++y) {
        // FreeImage keeps its rows bottom-up.
        const uchar* from = flat.constScanLine(static_cast<int>(y));
        BYTE* to = image->getScanLine(height - 1 - y);
        for (unsigned x = 0; x < width; ++x) {
            to[3 * x + FI_RGBA_RED] = from[3 * x];
            to[3 * x + FI_RGBA_GREEN] = from[3 * x + 1];
            to[3 * x + FI_RGBA_BLUE] = from[3 * x + 2];
        }
    }
    return image;
}

QXPropertyNode::Ptr newLayer(std::u16string identifier, std::u16string displayName) {
    auto layer = makeQX<QXPropertyNode>(std::move(identifier));
    layer->addChild(u"DisplayName", std::move(displayName));
    layer->addChild(u"Disabled", u"false");
    return layer;
}

void addButton(QXPropertyNode& buttons, size_t keyIndex, const QImage& picture) {
    const std::u16string name(QXKeyTable::key(keyIndex).name);
    buttons.addChild(name)->addChild(u"Image", name, toKeyImage(picture));
}

bool writeItemFolder(const QDir& folder, const QXPropertyNode& item) {
    const QString name = toQString(item.name());
    const QString path = folder.filePath(name);
    // Whatever an earlier version shipped goes: only the files written now belong here.
    if (!QDir(path).removeRecursively()) {
        std::fprintf(stderr, "artgen: cannot remove the old %s\n", qPrintable(path));
        return false;
    }
    QXProfile writer({}, keyNames());
    if (!writer.writeItem(folder.filesystemAbsolutePath(), item, QXProfile::WriteMode::Export)) {
        std::fprintf(stderr, "artgen: cannot write the item folder %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

struct LockLayer {
    const char16_t* identifier;
    const char16_t* displayName;
    const char16_t* key;
    const char16_t* modifier; // the lock's letter in a stored condition
    // Names the layer's one condition. Stored conditions are named by a GUID; a fixed one
    // keeps the shipped files the same each time they are generated.
    const char16_t* conditionName;
};

const LockLayer kLockLayers[] = {
    {u"control_buttons_caps_lock", u"Caps Lock on", u"CapsLock", u"l",
     u"{1C0F25D1-A26E-45E7-994B-9EBD820320C1}"},
    {u"control_buttons_num_lock", u"Num Lock on", u"NumLock", u"n",
     u"{6BC1DFB0-C9A1-4192-85AC-B07114E5B585}"},
    {u"control_buttons_scroll_lock", u"Scroll Lock on", u"ScrollLock", u"r",
     u"{94286099-9800-4355-B859-E23825C63CE0}"},
};

QXPropertyNode::Ptr lockLayer(const LockLayer& lock) {
    QXPropertyNode::Ptr layer = newLayer(lock.identifier, lock.displayName);
    QXPropertyNode::Ptr condition = layer->addChild(u"Conditions")->addChild(lock.conditionName);
    condition->addChild(u"Type", u"lock");
    condition->addChild(u"Modifiers", lock.modifier);

    const size_t key = *QXKeyTable::findKeyByName(lock.key);
    addButton(*layer->addChild(u"Buttons"), key,
              drawLabelKey(toQString(QXKeyTable::key(key).label), LockLight::On));
    return layer;
}

} // namespace

bool writeDefaultButtons(const QDir& folder) {
    QXPropertyNode::Ptr layer = newLayer(u"default_buttons", u"Default buttons");
    QXPropertyNode::Ptr buttons = layer->addChild(u"Buttons");
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i) {
        const QXKeyRecord& key = QXKeyTable::key(i);
        const LockLight light = key.has(QXKeyRecord::kLock) ? LockLight::Off : LockLight::None;
        addButton(*buttons, i, drawLabelKey(toQString(key.label), light));
    }
    return writeItemFolder(folder, *layer);
}

bool writeControlButtons(const QDir& folder) {
    auto group = makeQX<QXPropertyNode>(u"control_buttons");
    group->addChild(u"Type", u"Group");
    group->addChild(u"DisplayName", u"Lock indicators");
    group->addChild(u"Disabled", u"false");
    QXPropertyNode::Ptr order = group->addChild(u"ItemOrder");
    for (const LockLayer& lock : kLockLayers)
        order->addChild(lockLayer(lock));
    return writeItemFolder(folder, *group);
}
