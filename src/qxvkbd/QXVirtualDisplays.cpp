#include "QXVirtualDisplays.h"

#include "platform/QXFiles.h"

#include "device/QXDiskFiles.h"
#include "device/QXDisplayImage.h"
#include "model/QXKeyTable.h"
#include "model/QXLayoutPicture.h"

#include <algorithm>
#include <cstdio>

namespace fs = std::filesystem;

namespace {

constexpr int kSide = QXDisplayImage::kSide;

// The widened channels of one RGB 5-6-5 pixel, high byte first: the low bits repeat the
// high ones so full scale stays 255.
void unpackPixel(const uint8_t* in, uint8_t* rgb) {
    const unsigned r = in[0] >> 3;
    const unsigned g = ((in[0] & 7u) << 3) | (in[1] >> 5);
    const unsigned b = in[1] & 0x1Fu;
    rgb[0] = static_cast<uint8_t>((r << 3) | (r >> 2));
    rgb[1] = static_cast<uint8_t>((g << 2) | (g >> 4));
    rgb[2] = static_cast<uint8_t>((b << 3) | (b >> 2));
}

} // namespace

QXVirtualDisplays::QXVirtualDisplays(fs::path tessera) : m_tessera(std::move(tessera)) {
    m_template.assign(static_cast<size_t>(kWidth) * kHeight * 3, 0x80);
}

bool QXVirtualDisplays::loadTemplate() {
    fipImage picture;
    if (!QXLayoutPicture::loadTemplate(picture))
        return false;
    // FreeImage keeps rows bottom-up.
    for (int y = 0; y < kHeight; ++y) {
        const BYTE* line = picture.getScanLine(static_cast<unsigned>(kHeight - 1 - y));
        uint8_t* out = m_template.data() + static_cast<size_t>(y) * kWidth * 3;
        for (int x = 0; x < kWidth; ++x) {
            out[x * 3 + 0] = line[x * 3 + FI_RGBA_RED];
            out[x * 3 + 1] = line[x * 3 + FI_RGBA_GREEN];
            out[x * 3 + 2] = line[x * 3 + FI_RGBA_BLUE];
        }
    }
    return true;
}

std::optional<std::vector<uint8_t>> QXVirtualDisplays::readPrefix(const fs::path& path,
                                                                  size_t maxBytes) {
    const std::optional<std::string> text = readFileStart(path, maxBytes);
    if (!text)
        return std::nullopt;
    return std::vector<uint8_t>(text->begin(), text->end());
}

void QXVirtualDisplays::reloadDisplay(int displayNumber) {
    if (displayNumber < 1 || displayNumber > kDisplayCount)
        return;
    char name[16];
    std::snprintf(name, sizeof name, "%03d.sys", displayNumber);
    auto& slot = m_displays[static_cast<size_t>(displayNumber)];
    const auto bytes = readPrefix(m_tessera / "dynamic" / name, QXDisplayImage::kBytes);
    if (!bytes || bytes->size() < QXDisplayImage::kBytes) {
        slot.reset();
        return;
    }
    const bool rotated = QXDisplayImage::isRotated(displayNumber);
    Picture picture;
    for (int row = 0; row < kSide; ++row) {
        for (int column = 0; column < kSide; ++column) {
            // The rotated displays store the picture a quarter turn clockwise: stored row k,
            // column j holds picture row 47 - j, column k; turn it back.
            const int storedRow = rotated ? column : row;
            const int storedColumn = rotated ? kSide - 1 - row : column;
            unpackPixel(bytes->data() + (storedRow * kSide + storedColumn) * 2,
                        picture.data() + (row * kSide + column) * 3);
        }
    }
    slot = picture;
}

void QXVirtualDisplays::reloadAllDisplays() {
    for (int display = 1; display <= kDisplayCount; ++display)
        reloadDisplay(display);
}

void QXVirtualDisplays::reloadEnableTable() {
    m_dark.reset();
    const auto table = readPrefix(m_tessera / "layout.sys", QXDiskFiles::kEnableTableBytes);
    if (!table)
        return;
    for (size_t i = 0; i < table->size(); ++i)
        m_dark[i + 1] = (*table)[i] == 0;
}

void QXVirtualDisplays::reloadCommand() {
    const auto command = readPrefix(m_tessera / "order.sys", 4);
    if (!command || command->size() < 4 || (*command)[0] != 'b')
        return;
    unsigned level = 0;
    for (size_t i = 1; i < 4; ++i) {
        const uint8_t digit = (*command)[i];
        if (digit < '0' || digit > '9')
            return;
        level = level * 10 + (digit - '0');
    }
    m_brightness = std::min(level, 100u);
}

QXVirtualDisplays::Area QXVirtualDisplays::keyArea(size_t key) {
    // Key frames are given in the key table's coordinates; the template puts each key's
    // square at an offset from its anchor, and the frame moves with it.
    const QXKeyGeometry& g = QXKeyTable::geometry(key);
    const QXLayoutPicture::Square square = QXLayoutPicture::keySquare(key);
    const QXKeyFrame frame = QXKeyTable::keyFrame(key);
    const int dx = square.left - g.x, dy = square.top - g.y;
    return {frame.left + dx, frame.top + dy, frame.right + dx, frame.bottom + dy};
}

std::optional<size_t> QXVirtualDisplays::keyAt(int x, int y) {
    for (size_t key = 0; key < QXKeyTable::keyCount(); ++key) {
        const Area a = keyArea(key);
        if (x >= a.left && x < a.right && y >= a.top && y < a.bottom)
            return key;
    }
    return std::nullopt;
}

bool QXVirtualDisplays::enabled(int displayNumber) const {
    return displayNumber >= 1 && displayNumber <= kDisplayCount &&
           !m_dark[static_cast<size_t>(displayNumber)];
}

std::vector<uint8_t> QXVirtualDisplays::compose() const {
    std::vector<uint8_t> picture = m_template;
    // The panels' brightness scales every channel, rounded to the nearest step.
    std::array<uint8_t, 256> scale;
    for (unsigned c = 0; c < 256; ++c)
        scale[c] = static_cast<uint8_t>((c * m_brightness + 50) / 100);
    for (size_t key = 0; key < QXKeyTable::keyCount(); ++key) {
        const int display = QXKeyTable::key(key).displayNumber;
        const auto& shown = m_displays[static_cast<size_t>(display)];
        const bool lit = enabled(display) && shown.has_value();
        const QXLayoutPicture::Square square = QXLayoutPicture::keySquare(key);
        for (int row = 0; row < kSide; ++row) {
            const int y = square.top + row;
            if (y < 0 || y >= kHeight)
                continue;
            for (int column = 0; column < kSide; ++column) {
                const int x = square.left + column;
                if (x < 0 || x >= kWidth)
                    continue;
                uint8_t* out = picture.data() + (static_cast<size_t>(y) * kWidth + x) * 3;
                for (int c = 0; c < 3; ++c)
                    out[c] = lit ? scale[(*shown)[(row * kSide + column) * 3 + c]] : 0;
            }
        }
    }
    return picture;
}
