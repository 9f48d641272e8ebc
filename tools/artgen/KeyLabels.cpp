#include "KeyLabels.h"

#include "ArtFont.h"
#include "KeyFace.h"

#include <QRadialGradient>
#include <QTransform>
#include <algorithm>

namespace {

// The top surface of the face is 41 pixels wide; labels keep a margin from its rim.
constexpr qreal kMaxLabelWidth = 36;
// Below this size a label gets hard to read on the key's display; longer labels are
// narrowed instead.
constexpr qreal kSmallestSize = 10.5;

// Short labels are set large, words at the size of a printed key cap's legend. A lone
// punctuation mark is set larger still, since its ink is so much smaller than a letter's.
qreal preferredSize(const QString& label) {
    if (label.size() == 1 && !label[0].isLetterOrNumber())
        return 30;
    switch (label.size()) {
    case 1:
        return 24;
    case 2:
        return 19;
    case 3:
        return 15;
    default:
        return 13;
    }
}

QPainterPath labelPath(const QString& label) {
    qreal size = preferredSize(label);
    QPainterPath path = textOutline(label, size);
    if (path.boundingRect().width() > kMaxLabelWidth) {
        size = std::max(kSmallestSize, size * kMaxLabelWidth / path.boundingRect().width());
        path = textOutline(label, size);
    }
    const QRectF ink = path.boundingRect();
    const qreal squeeze = std::min<qreal>(1, kMaxLabelWidth / ink.width());
    // Centred across by the ink. Up and down, text is centred by its capitals, so that every
    // label stands on the same baseline whatever its descenders; a mark that reaches above
    // the middle of the capitals (a quote, a bracket) is centred by its ink instead, while
    // one that sits low (a dot, a comma) stays on the baseline to keep its meaning.
    const qreal middle = kKeySize / 2.0;
    const qreal half = capHeight(size) / 2;
    const bool centreInk = label.size() == 1 && !label[0].isLetterOrNumber() && ink.top() < -half;
    const qreal baseline = centreInk ? middle - ink.center().y() : middle + half;
    QTransform place;
    place.translate(middle - ink.center().x() * squeeze, baseline);
    place.scale(squeeze, 1);
    return place.map(path);
}

// The indicator sits in the face's upper right corner, clear of the widest labels.
const QPointF kLightCentre(37, 9.5);
constexpr qreal kLightRadius = 3;
constexpr qreal kGlowRadius = 11;

void drawLight(QImage& face, LockLight light) {
    QPainter p(&face);
    p.setRenderHint(QPainter::Antialiasing);
    if (light == LockLight::On) {
        QRadialGradient glow(kLightCentre, kGlowRadius);
        glow.setColorAt(0, QColor(0x7b, 0xff, 0x9a, 220));
        glow.setColorAt(0.35, QColor(0x3c, 0xe0, 0x68, 110));
        glow.setColorAt(1, QColor(0x3c, 0xe0, 0x68, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(glow);
        p.drawEllipse(kLightCentre, kGlowRadius, kGlowRadius);

        QRadialGradient lamp(kLightCentre - QPointF(0.7, 0.7), kLightRadius + 0.5);
        lamp.setColorAt(0, QColor(0xf2, 0xff, 0xf4));
        lamp.setColorAt(0.45, QColor(0x7d, 0xff, 0x9b));
        lamp.setColorAt(1, QColor(0x22, 0xb8, 0x4a));
        p.setPen(QPen(QColor(0x14, 0x6b, 0x2c), 0.6));
        p.setBrush(lamp);
    } else {
        QRadialGradient lamp(kLightCentre - QPointF(0.7, 0.7), kLightRadius + 0.5);
        lamp.setColorAt(0, QColor(0x4a, 0x55, 0x4d));
        lamp.setColorAt(1, QColor(0x18, 0x1e, 0x1a));
        p.setPen(QPen(QColor(0x0b, 0x0c, 0x0f), 0.6));
        p.setBrush(lamp);
    }
    p.drawEllipse(kLightCentre, kLightRadius, kLightRadius);
}

} // namespace

QImage drawLabelKey(const QString& label, LockLight light) {
    QImage face = drawKeyFace(light == LockLight::On ? KeyTone::Lit : KeyTone::Plain);
    const QPainterPath path = labelPath(label);
    drawGlyph(face, [&path](QPainter& p, const GlyphInk& ink) {
        p.setPen(Qt::NoPen);
        p.setBrush(ink.fill());
        p.drawPath(path);
    });
    if (light != LockLight::None)
        drawLight(face, light);
    return face;
}
