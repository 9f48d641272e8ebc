#include "KeyboardTemplate.h"

#include "ArtFont.h"
#include "ProgramIcons.h"
#include "model/QXKeyTable.h"

#include <QLinearGradient>
#include <QPainter>

namespace {

constexpr int kWidth = 1312;
constexpr int kHeight = 376;

// A key's display square lies this far from the key's image position in the key table.
constexpr int kSquareDx = 4;
constexpr int kSquareDy = -19;
constexpr int kSquareSize = 48;

// Neighbouring squares are two pixels apart: a cap reaches one pixel beyond its frame, so
// the caps of neighbours meet and every square keeps a visible edge.
constexpr qreal kCapOverhang = 1;

QRect keySquare(size_t index) {
    const QXKeyGeometry& g = QXKeyTable::geometry(index);
    return {g.x + kSquareDx, g.y + kSquareDy, kSquareSize, kSquareSize};
}

QRectF capRect(size_t index) {
    const QXKeyFrame f = QXKeyTable::keyFrame(index);
    return QRectF(QPointF(f.left + kSquareDx, f.top + kSquareDy),
                  QPointF(f.right + kSquareDx, f.bottom + kSquareDy))
        .adjusted(-kCapOverhang, -kCapOverhang, kCapOverhang, kCapOverhang);
}

QRectF allCaps() {
    QRectF bounds;
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i)
        bounds |= capRect(i);
    return bounds;
}

void drawBody(QPainter& p) {
    p.fillRect(QRect(0, 0, kWidth, kHeight), QColor(0x0c, 0x0d, 0x10));

    // The case: lit from above, with a bright edge along its top.
    const QRectF body(1.5, 1.5, kWidth - 3, kHeight - 3);
    QLinearGradient shell(0, 0, 0, kHeight);
    shell.setColorAt(0, QColor(0x3a, 0x3f, 0x47));
    shell.setColorAt(0.5, QColor(0x2a, 0x2e, 0x34));
    shell.setColorAt(1, QColor(0x1c, 0x1e, 0x22));
    p.setPen(QPen(QColor(0x06, 0x07, 0x09), 1));
    p.setBrush(shell);
    p.drawRoundedRect(body, 18, 18);
    p.setPen(QPen(QColor(255, 255, 255, 40), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(body.adjusted(1, 1, -1, -1), 17, 17);

    // The deck the keys sit in, sunk into the case: dark rim above, light rim below.
    const QRectF deck = allCaps().adjusted(-9, -9, 9, 9);
    QLinearGradient well(0, deck.top(), 0, deck.bottom());
    well.setColorAt(0, QColor(0x14, 0x15, 0x18));
    well.setColorAt(1, QColor(0x1b, 0x1d, 0x21));
    p.setPen(QPen(QColor(255, 255, 255, 34), 1));
    p.setBrush(well);
    p.drawRoundedRect(deck.adjusted(0, 1, 0, 1), 9, 9);
    p.setPen(QPen(QColor(0, 0, 0, 150), 1));
    p.setBrush(well);
    p.drawRoundedRect(deck, 9, 9);
}

void drawCap(QPainter& p, size_t index) {
    const QRectF cap = capRect(index);
    // The rim: bright above, darker below, and never as dark as the deck, so that the rims of
    // two neighbours that meet between their squares still read as the edges of two caps.
    QLinearGradient rim(0, cap.top(), 0, cap.bottom());
    rim.setColorAt(0, QColor(0x70, 0x77, 0x82));
    rim.setColorAt(0.2, QColor(0x4c, 0x52, 0x5b));
    rim.setColorAt(1, QColor(0x34, 0x38, 0x3f));
    p.setPen(Qt::NoPen);
    p.setBrush(rim);
    p.drawRoundedRect(cap, 4, 4);

    // Top surface, seen on keys wider or taller than their square.
    const QRectF top = cap.adjusted(1.5, 1.5, -1.5, -2);
    QLinearGradient surface(0, top.top(), 0, top.bottom());
    surface.setColorAt(0, QColor(0x40, 0x46, 0x4f));
    surface.setColorAt(1, QColor(0x2a, 0x2e, 0x34));
    p.setBrush(surface);
    p.drawRoundedRect(top, 3, 3);
}

// The name on the case, engraved above the numeric keypad, with the mark of the program
// icon before it.
void drawBrand(QPainter& p) {
    constexpr qreal size = 11.5;
    const QPainterPath spaced =
        textOutline(QStringLiteral("TESSERA QUADRIX"), size, QFont::Bold, 1.6);

    const QRect numLock = keySquare(*QXKeyTable::findKeyByName(u"NumLock"));
    const QRect padMinus = keySquare(*QXKeyTable::findKeyByName(u"KeypadMinus"));
    const qreal mark = 12, gap = 8;
    const qreal total = mark + gap + spaced.boundingRect().width();
    const qreal left = (numLock.left() + padMinus.right() + 1) / 2.0 - total / 2;
    const qreal middle = keySquare(0).top() + kSquareSize / 2.0; // level with the top row
    const qreal baseline = middle + capHeight(size) / 2;

    // The mark: four small displays on a cap.
    const QRectF markRect(left, middle - mark / 2, mark, mark);
    p.setPen(QPen(QColor(0x08, 0x09, 0x0b), 1));
    p.setBrush(QColor(0x24, 0x27, 0x2c));
    p.drawRoundedRect(markRect, 2.5, 2.5);
    const qreal tile = 4;
    for (int i = 0; i < 4; ++i) {
        QRectF t(markRect.left() + 1.5 + (i % 2) * (tile + 1),
                 markRect.top() + 1.5 + (i / 2) * (tile + 1), tile, tile);
        p.setPen(Qt::NoPen);
        p.setBrush(kMarkColors[i].darker(125));
        p.drawRect(t);
    }

    // Printed in light grey, with a faint highlight below as if pressed into the case.
    const QPainterPath placed = spaced.translated(left + mark + gap, baseline);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 30));
    p.drawPath(placed.translated(0, 1));
    p.setBrush(QColor(0x8c, 0x94, 0x9f));
    p.drawPath(placed);
}

} // namespace

std::vector<ArtPicture> drawKeyboardTemplate() {
    QImage picture(kWidth, kHeight, QImage::Format_RGB888);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    drawBody(p);
    drawBrand(p);
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i)
        drawCap(p, i);
    // The squares are covered by key pictures, or black for keys without one, when the
    // template is used; black here keeps a bare template looking the same.
    p.setRenderHint(QPainter::Antialiasing, false);
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i)
        p.fillRect(keySquare(i), Qt::black);
    p.end();
    return {{QStringLiteral("KEYBOARD_TEMPLATE"), picture}};
}
