#include "ProgramIcons.h"

#include <QLinearGradient>
#include <QPainter>

namespace {

// Where the parts of the mark go at one size. Small sizes are laid out by hand so that
// every display lands on whole pixels.
struct MarkLayout {
    int size;
    QRectF cap;
    qreal capRadius;
    QRectF surface; // the cap's top surface; empty when too small to show
    qreal surfaceRadius;
    int tileLeft, tileTop, tile, gap; // the 2 by 2 displays, in whole pixels
    qreal tileRadius;
    bool shadow; // a soft shadow under the cap
};

const MarkLayout kLayouts[] = {
    {16, {0.5, 0.5, 15, 15}, 3, {}, 0, 2, 2, 5, 2, 0, false},
    {22, {0.5, 0.5, 21, 21}, 4, {}, 0, 3, 3, 7, 2, 1, false},
    {32, {0.5, 0.5, 31, 31}, 6, {3.5, 2.5, 25, 25}, 4, 6, 5, 9, 2, 1.5, false},
    {44, {0.5, 0.5, 43, 43}, 8, {4.5, 3.5, 35, 34}, 6, 8, 7, 13, 2, 2, false},
    {48, {1.5, 0.5, 45, 45}, 8.5, {5.5, 3.5, 37, 35}, 6, 9, 7, 14, 2, 2, true},
    {64, {3.5, 2.5, 57, 57}, 10, {7.5, 5.5, 49, 47}, 7, 12, 10, 18, 4, 2.5, true},
    {128, {6.5, 5.5, 115, 115}, 20, {15, 11, 98, 94}, 14, 25, 20, 36, 6, 4, true},
    {256, {12.5, 10.5, 231, 231}, 40, {30, 22, 196, 188}, 28, 50, 40, 72, 12, 8, true},
};

const MarkLayout& layoutFor(int size) {
    for (const MarkLayout& layout : kLayouts)
        if (layout.size == size)
            return layout;
    Q_UNREACHABLE();
}

// The displays of the disconnected tray icon.
const std::array<QColor, 4> kDarkTiles = {
    {{0x5a, 0x5f, 0x66}, {0x52, 0x57, 0x5e}, {0x52, 0x57, 0x5e}, {0x4a, 0x4f, 0x56}}};

void drawCap(QPainter& p, const MarkLayout& m, bool lit) {
    const qreal k = m.size / 256.0;
    if (m.shadow) {
        // A few widening, fading outlines make a soft shadow below the cap.
        p.setBrush(Qt::NoBrush);
        for (int i = 1; i <= 4; ++i) {
            p.setPen(QPen(QColor(0, 0, 0, 46 - 9 * i), 2.5 * k * i));
            p.drawRoundedRect(m.cap.translated(0, 3 * k * i), m.capRadius, m.capRadius);
        }
    }
    QLinearGradient skirt(0, m.cap.top(), 0, m.cap.bottom());
    skirt.setColorAt(0, lit ? QColor(0x6a, 0x72, 0x7e) : QColor(0x5a, 0x5f, 0x66));
    skirt.setColorAt(1, QColor(0x17, 0x19, 0x1d));
    p.setPen(QPen(QColor(0x08, 0x09, 0x0b), std::max<qreal>(1, 4 * k)));
    p.setBrush(skirt);
    p.drawRoundedRect(m.cap, m.capRadius, m.capRadius);

    if (m.surface.isEmpty())
        return;
    QLinearGradient face(0, m.surface.top(), 0, m.surface.bottom());
    face.setColorAt(0, QColor(0x45, 0x4b, 0x55));
    face.setColorAt(1, QColor(0x2a, 0x2e, 0x34));
    p.setPen(QPen(QColor(255, 255, 255, 40), std::max<qreal>(1, 3 * k)));
    p.setBrush(face);
    p.drawRoundedRect(m.surface, m.surfaceRadius, m.surfaceRadius);
}

void drawTiles(QPainter& p, const MarkLayout& m, bool lit) {
    const std::array<QColor, 4>& colors = lit ? kMarkColors : kDarkTiles;
    for (int i = 0; i < 4; ++i) {
        const QRectF tile(m.tileLeft + (i % 2) * (m.tile + m.gap),
                          m.tileTop + (i / 2) * (m.tile + m.gap), m.tile, m.tile);
        QLinearGradient glass(0, tile.top(), 0, tile.bottom());
        glass.setColorAt(0, colors[i].lighter(lit ? 130 : 112));
        glass.setColorAt(1, colors[i].darker(lit ? 125 : 110));
        p.setPen(Qt::NoPen);
        p.setBrush(glass);
        p.drawRoundedRect(tile, m.tileRadius, m.tileRadius);
        if (lit && m.tile >= 9) {
            // A sheen over the upper half of each display.
            QRectF sheen = tile.adjusted(0, 0, 0, -tile.height() * 0.55);
            QLinearGradient light(0, sheen.top(), 0, sheen.bottom());
            light.setColorAt(0, QColor(255, 255, 255, 90));
            light.setColorAt(1, QColor(255, 255, 255, 15));
            p.setBrush(light);
            p.drawRoundedRect(sheen, m.tileRadius, m.tileRadius);
        }
    }
}

QImage drawMark(int size, bool lit) {
    const MarkLayout& m = layoutFor(size);
    QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    drawCap(p, m, lit);
    drawTiles(p, m, lit);
    return icon;
}

} // namespace

const std::array<QColor, 4> kMarkColors = {
    {{0x3d, 0x9d, 0xf0}, {0x4c, 0xc4, 0x6a}, {0xf0, 0xa8, 0x30}, {0xe8, 0x55, 0x7a}}};

std::vector<ArtPicture> drawProgramIcons() {
    return {
        {QStringLiteral("qxcfg"), drawMark(256, true)},
        {QStringLiteral("qxcfg-128"), drawMark(128, true)},
        {QStringLiteral("qxcfg-64"), drawMark(64, true)},
        {QStringLiteral("qxcfg-48"), drawMark(48, true)},
        {QStringLiteral("qxcfg-32"), drawMark(32, true)},
        {QStringLiteral("qxcfg-16"), drawMark(16, true)},
        {QStringLiteral("tray-connected"), drawMark(22, true)},
        {QStringLiteral("tray-connected@2x"), drawMark(44, true)},
        {QStringLiteral("tray-disconnected"), drawMark(22, false)},
        {QStringLiteral("tray-disconnected@2x"), drawMark(44, false)},
    };
}
