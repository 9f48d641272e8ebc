#include "model/QXLayoutPicture.h"

#include "model/QXKeyTable.h"
#include "model/QXModelResources.h"

#include <algorithm>

namespace QXLayoutPicture {

namespace {

constexpr int kKey = static_cast<int>(QXImage::kKeySize);

// A 48 x 48, 24-bit copy of a button's picture, decoded from its file when needed. It is
// laid over black before scaling, so colours under transparent pixels cannot bleed in.
bool keyPicture(const QXImage& image, fipImage& out) {
    if (image.isLoaded()) {
        out = image;
    } else {
        QXImage decoded;
        if (!decoded.loadFile(image.sourcePath()))
            return false;
        out = decoded;
    }
    if (!QXImage::to24Bits(out))
        return false;
    if (out.getWidth() != QXImage::kKeySize || out.getHeight() != QXImage::kKeySize)
        return out.rescale(QXImage::kKeySize, QXImage::kKeySize, FILTER_BILINEAR) != 0;
    return true;
}

bool allBlack(const fipImage& square) {
    for (unsigned y = 0; y < square.getHeight(); ++y) {
        const BYTE* line = square.getScanLine(y);
        if (std::any_of(line, line + square.getWidth() * 3, [](BYTE b) { return b != 0; }))
            return false;
    }
    return true;
}

bool cut(const fipImage& picture, size_t keyIndex, fipImage& square) {
    Square s = keySquare(keyIndex);
    if (!picture.copySubImage(square, s.left, s.top, s.left + kKey, s.top + kKey))
        return false;
    return QXImage::to24Bits(square);
}

} // namespace

Square keySquare(size_t keyIndex) {
    const QXKeyGeometry& g = QXKeyTable::geometry(keyIndex);
    return {g.x + 4, g.y - 19};
}

bool loadTemplate(fipImage& picture) {
    const QXResourceData* resource = findResource(qxModelResources(), "KEYBOARD_TEMPLATE");
    QXImage decoded;
    if (!resource || !decoded.loadMemory({resource->data, resource->size}))
        return false;
    picture = decoded;
    return QXImage::to24Bits(picture) && picture.getWidth() == kWidth &&
           picture.getHeight() == kHeight;
}

QXImage compose(const QXLayer& layer) {
    fipImage picture;
    if (!loadTemplate(picture))
        return QXImage();
    fipImage black(FIT_BITMAP, QXImage::kKeySize, QXImage::kKeySize, 24);
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i) {
        const QXButton* button = layer.getButton(i);
        fipImage key;
        const bool drawn = button->isAssigned() && button->image && keyPicture(*button->image, key);
        Square s = keySquare(i);
        picture.pasteSubImage(drawn ? key : black, s.left, s.top);
    }
    return QXImage(picture);
}

bool takeBack(QXLayer& layer, const fipImage& source) {
    if (source.getWidth() != kWidth || source.getHeight() != kHeight)
        return false;
    fipImage picture(source);
    if (!QXImage::to24Bits(picture))
        return false;
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i) {
        QXButton* button = layer.getButton(i);
        fipImage square;
        if (!cut(picture, i, square))
            continue;
        if (button->image) {
            // Only the pixels change; the picture keeps its file and its mark.
            static_cast<fipImage&>(*button->image) = square;
        } else if (!button->view && !allBlack(square)) {
            button->image = makeQX<QXImage>(square);
            button->actionCode = QXKeyTable::key(i).actionCode;
        }
    }
    layer.markAllChanged();
    return true;
}

} // namespace QXLayoutPicture
