#include "KeyFace.h"

#include <QLinearGradient>

namespace {

const QColor kGlyphColor(0xEE, 0xF1, 0xF5);
const QColor kShadowColor(0, 0, 0, 120);

struct FaceColors {
    QColor skirtTop, skirtBottom, surfaceTop, surfaceBottom, rim;
};

const FaceColors kPlainFace{{0x50, 0x56, 0x60},
                            {0x16, 0x18, 0x1c},
                            {0x3d, 0x43, 0x4c},
                            {0x27, 0x2b, 0x31},
                            {255, 255, 255, 30}};
const FaceColors kLitFace{{0x7a, 0x84, 0x90},
                          {0x22, 0x26, 0x2b},
                          {0x5e, 0x68, 0x74},
                          {0x41, 0x49, 0x52},
                          {255, 255, 255, 60}};

// The face is drawn slightly raised like a key cap: the top surface sits a little above the
// centre, so glyphs are lifted by the same amount.
constexpr qreal kGlyphLift = 1.0;

} // namespace

QPen GlyphInk::stroke(qreal width) const {
    return QPen(m_color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void GlyphInk::useFill(QPainter& painter) const {
    painter.setPen(stroke(1.5));
    painter.setBrush(fill());
}

QImage drawKeyFace(KeyTone tone) {
    const FaceColors& colors = tone == KeyTone::Lit ? kLitFace : kPlainFace;
    QImage face(kKeySize, kKeySize, QImage::Format_ARGB32_Premultiplied);
    face.fill(Qt::transparent);
    QPainter painter(&face);
    painter.setRenderHint(QPainter::Antialiasing);

    // Skirt of the key cap: darker towards the bottom.
    QRectF outer(0.5, 0.5, kKeySize - 1, kKeySize - 1);
    QLinearGradient skirt(0, 0, 0, kKeySize);
    skirt.setColorAt(0, colors.skirtTop);
    skirt.setColorAt(1, colors.skirtBottom);
    painter.setPen(QPen(QColor(0x0b, 0x0c, 0x0f), 1));
    painter.setBrush(skirt);
    painter.drawRoundedRect(outer, 8, 8);

    // Top surface with a faint highlight on its rim.
    QRectF top = outer.adjusted(3, 2, -3, -5);
    QLinearGradient surface(0, top.top(), 0, top.bottom());
    surface.setColorAt(0, colors.surfaceTop);
    surface.setColorAt(1, colors.surfaceBottom);
    painter.setPen(QPen(colors.rim, 1));
    painter.setBrush(surface);
    painter.drawRoundedRect(top, 6, 6);
    return face;
}

void drawGlyph(QImage& face, const GlyphFunction& glyph) {
    QPainter painter(&face);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(0, -kGlyphLift);
    painter.save();
    painter.translate(0, 1); // the shadow falls one pixel below the glyph
    glyph(painter, GlyphInk(kShadowColor));
    painter.restore();
    glyph(painter, GlyphInk(kGlyphColor));
}

QImage drawKeyIcon(const GlyphFunction& glyph) {
    QImage face = drawKeyFace();
    drawGlyph(face, glyph);
    return face;
}

GlyphFunction mirrored(GlyphFunction glyph) {
    return [glyph = std::move(glyph)](QPainter& painter, const GlyphInk& ink) {
        painter.translate(kKeySize, 0);
        painter.scale(-1, 1);
        glyph(painter, ink);
    };
}
