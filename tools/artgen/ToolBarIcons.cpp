#include "ToolBarIcons.h"

#include "ProgramIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace {

constexpr int kWidth = 56, kHeight = 32;
// Every glyph is drawn in a 28 x 28 square centred in the picture.
constexpr qreal kGlyphLeft = 14, kGlyphTop = 2;

const QColor kInk(0x37, 0x41, 0x4b);
const QColor kBlue = kMarkColors[0];
const QColor kGreen = kMarkColors[1];
const QColor kAmber = kMarkColors[2];
const QColor kRed = kMarkColors[3];

QPen ink(qreal width, const QColor& colour = kInk) {
    return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// The green "+" in a white ring that marks the two "New" pictures.
void plusBadge(QPainter& p, QPointF centre) {
    p.setPen(QPen(Qt::white, 1.5));
    p.setBrush(kGreen);
    p.drawEllipse(centre, 6, 6);
    p.setPen(ink(2, Qt::white));
    p.drawLine(centre + QPointF(-3, 0), centre + QPointF(3, 0));
    p.drawLine(centre + QPointF(0, -3), centre + QPointF(0, 3));
}

QPolygonF sheet(qreal y) {
    return QPolygonF({{12, y - 5}, {24, y}, {12, y + 5}, {0, y}});
}

void newLayer(QPainter& p) {
    p.setPen(ink(1.5));
    p.setBrush(kBlue.lighter(150));
    p.drawPolygon(sheet(20));
    p.setBrush(kBlue);
    p.drawPolygon(sheet(14));
    plusBadge(p, {21, 6});
}

void newGroup(QPainter& p) {
    const QColor edge = kAmber.darker(150);
    QPainterPath back;
    back.moveTo(2, 24);
    back.lineTo(2, 6);
    back.lineTo(10, 6);
    back.lineTo(12.5, 9);
    back.lineTo(25, 9);
    back.lineTo(25, 24);
    back.closeSubpath();
    p.setPen(ink(1.5, edge));
    p.setBrush(kAmber.darker(110));
    p.drawPath(back);
    p.setBrush(kAmber.lighter(120));
    p.drawRoundedRect(QRectF(2, 12, 23, 12), 1.5, 1.5);
    plusBadge(p, {21, 6});
}

void trash(QPainter& p) {
    const QColor edge = kRed.darker(160);
    p.setPen(ink(1.5, edge));
    p.setBrush(kRed);
    p.drawPolygon(QPolygonF({{7, 9}, {21, 9}, {19.5, 26}, {8.5, 26}}));
    p.drawRoundedRect(QRectF(4, 5, 20, 3.5), 1, 1);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(10.5, 2, 7, 3), 1, 1);
    p.setPen(ink(1.5, Qt::white));
    for (qreal x : {11.0, 14.0, 17.0})
        p.drawLine(QPointF(x, 12.5), QPointF(x + (x - 14) * 0.1, 22.5));
}

void paint(QPainter& p) {
    // A key's display taking colour from a brush.
    p.setPen(ink(1.5));
    p.setBrush(QColor(0x2a, 0x2e, 0x34));
    p.drawRoundedRect(QRectF(2, 12, 15, 14), 2, 2);
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawRoundedRect(QRectF(4, 17, 11, 7), 1.5, 1.5);

    p.save();
    p.translate(15, 15);
    p.rotate(40);
    p.setPen(ink(1.2));
    p.setBrush(QColor(0x8d, 0x6e, 0x63));
    p.drawRoundedRect(QRectF(-2, -17, 4, 12), 1.5, 1.5);
    p.setBrush(QColor(0xb0, 0xb6, 0xbc));
    p.drawRect(QRectF(-2.5, -5, 5, 3));
    QPainterPath bristles;
    bristles.moveTo(-3, -2);
    bristles.lineTo(3, -2);
    bristles.quadTo(2.5, 4, 0, 6);
    bristles.quadTo(-2.5, 4, -3, -2);
    p.setBrush(kBlue);
    p.drawPath(bristles);
    p.restore();
}

// The open tray both exchange pictures share.
void tray(QPainter& p) {
    p.setPen(ink(2.5));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({{3, 16}, {3, 25}, {25, 25}, {25, 16}}));
}

void arrow(QPainter& p, const QColor& colour, qreal fromY, qreal toY) {
    const qreal head = toY < fromY ? 6 : -6;
    p.setPen(ink(3, colour));
    p.drawLine(QPointF(14, fromY), QPointF(14, toY));
    p.drawPolyline(QPolygonF({{8, toY + head}, {14, toY}, {20, toY + head}}));
}

void exportOut(QPainter& p) {
    tray(p);
    arrow(p, kBlue, 20, 3);
}

void importIn(QPainter& p) {
    tray(p);
    arrow(p, kGreen, 2, 19);
}

// An arc of the circle around (14, 14) with an arrow head at its end, angles in degrees
// counter-clockwise from three o'clock.
void turningArrow(QPainter& p, qreal start, qreal span) {
    const QRectF circle(4, 4, 20, 20);
    QPainterPath arc;
    arc.arcMoveTo(circle, start);
    arc.arcTo(circle, start, span);
    p.setPen(ink(3, kGreen));
    p.setBrush(Qt::NoBrush);
    p.drawPath(arc);

    const qreal end = qDegreesToRadians(start + span);
    const QPointF tip(14 + 10 * qCos(end), 14 - 10 * qSin(end));
    // Along the circle in the direction of travel, and out from its centre.
    const QPointF along(-qSin(end), -qCos(end));
    const QPointF out(qCos(end), -qSin(end));
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    p.drawPolygon(QPolygonF({tip + along * 5, tip + out * 5, tip - out * 5}));
}

void updates(QPainter& p) {
    turningArrow(p, 20, 140);
    turningArrow(p, 200, 140);
}

void properties(QPainter& p) {
    const struct {
        qreal y, knob;
        QColor colour;
    } sliders[] = {{6, 18, kBlue}, {14, 8, kGreen}, {22, 15, kAmber}};
    for (const auto& slider : sliders) {
        p.setPen(ink(2));
        p.drawLine(QPointF(3, slider.y), QPointF(25, slider.y));
        p.setPen(ink(1.5));
        p.setBrush(slider.colour);
        p.drawEllipse(QPointF(slider.knob, slider.y), 3.5, 3.5);
    }
}

QImage draw(void (*glyph)(QPainter&), int scale) {
    QImage picture(kWidth * scale, kHeight * scale, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    p.translate(kGlyphLeft, kGlyphTop);
    glyph(p);
    p.end();
    return picture.convertToFormat(QImage::Format_ARGB32);
}

} // namespace

std::vector<ArtPicture> drawToolBarIcons() {
    const struct {
        const char* name;
        void (*glyph)(QPainter&);
    } glyphs[] = {{"new-layer", newLayer}, {"new-group", newGroup},   {"delete", trash},
                  {"paint", paint},        {"export", exportOut},     {"import", importIn},
                  {"updates", updates},    {"properties", properties}};
    std::vector<ArtPicture> pictures;
    for (const auto& glyph : glyphs) {
        const QString name = QStringLiteral("toolbar-") + QString::fromLatin1(glyph.name);
        pictures.push_back({name, draw(glyph.glyph, 1)});
        pictures.push_back({name + QStringLiteral("@2x"), draw(glyph.glyph, 2)});
    }
    return pictures;
}
