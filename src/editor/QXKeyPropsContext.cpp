#include "editor/QXKeyPropsContext.h"

#include "editor/CQXLayersView.h"
#include "model/QXKeyTable.h"
#include "model/QXLayersController.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"

std::vector<size_t> QXKeyPropsContext::keys() const {
    std::vector<size_t> out;
    const std::bitset<113>& selected = keyboard.selectedKeys();
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i)
        if (selected[i])
            out.push_back(i);
    return out;
}

QXLayer::Ptr QXKeyPropsContext::editableLayer() const {
    if (!keyboard.canEditCurrent() || keyboard.selectedKeys().none())
        return {};
    return keyboard.currentLayer();
}

size_t QXKeyPropsContext::shownKey() const {
    const std::bitset<113>& selected = keyboard.selectedKeys();
    if (keyboard.anchorKey() < QXKeyTable::keyCount() && selected[keyboard.anchorKey()])
        return keyboard.anchorKey();
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i)
        if (selected[i])
            return i;
    return kNoKey;
}

QXButton* QXKeyPropsContext::shownButton() const {
    QXLayer::Ptr layer = keyboard.currentLayer();
    const size_t key = shownKey();
    return layer && key != kNoKey ? layer->getButton(key) : nullptr;
}

void QXKeyPropsContext::edited() const {
    controller.rebuild();
    dispatch.Send(QXM_KEY_EDITED);
}

QImage qxToQImage(fipImage picture) {
    if (!picture.isValid() || !QXImage::to24Bits(picture))
        return {};
    const int width = static_cast<int>(picture.getWidth());
    const int height = static_cast<int>(picture.getHeight());
    const ptrdiff_t pitch = picture.getScanWidth();
    const unsigned char* bits = picture.accessPixels();
    QImage out(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        const unsigned char* line = bits + (height - 1 - y) * pitch;
        auto* target = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < width; ++x)
            target[x] = qRgb(line[3 * x + 2], line[3 * x + 1], line[3 * x]);
    }
    return out;
}
