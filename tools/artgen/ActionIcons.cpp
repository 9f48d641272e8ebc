#include "ActionIcons.h"

#include "KeyFace.h"

#include <QPainterPath>
#include <QPolygonF>
#include <QtMath>

namespace {

// The point at angle degrees (counter-clockwise from three o'clock, as Qt's arcs count) on
// a circle.
QPointF onCircle(QPointF centre, qreal radius, qreal degrees) {
    qreal r = qDegreesToRadians(degrees);
    return {centre.x() + radius * qCos(r), centre.y() - radius * qSin(r)};
}

QRectF circleBox(QPointF centre, qreal radius) {
    return {centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius};
}

void fillPolygon(QPainter& p, const GlyphInk& ink, const QPolygonF& polygon) {
    ink.useFill(p);
    p.drawPolygon(polygon);
}

// Arrow pointing left, the "back" glyph; "forward" is its mirror image.
void arrowLeft(QPainter& p, const GlyphInk& ink) {
    p.setPen(ink.stroke(4.5));
    p.drawLine(QPointF(35, 24), QPointF(14, 24));
    p.drawPolyline(QPolygonF({{23.5, 14.5}, {14, 24}, {23.5, 33.5}}));
}

void star(QPainter& p, const GlyphInk& ink) {
    QPolygonF points;
    QPointF centre(24, 25.5);
    for (int i = 0; i < 10; ++i)
        points << onCircle(centre, i % 2 ? 6.2 : 15, 90 + 36 * i);
    fillPolygon(p, ink, points);
}

void house(QPainter& p, const GlyphInk& ink) {
    p.setPen(ink.stroke(4));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({{10.5, 24.5}, {24, 12}, {37.5, 24.5}}));
    p.setPen(ink.stroke(3.5));
    p.drawPolyline(QPolygonF({{16, 23}, {16, 36}, {32, 36}, {32, 23}}));
    ink.useFill(p);
    p.drawRect(QRectF(21.5, 28, 5, 8));
}

// An open circle stroked from start through sweep degrees (negative: clockwise).
void strokeArc(QPainter& p, const GlyphInk& ink, QPointF centre, qreal radius, qreal start,
               qreal sweep) {
    QPainterPath arc;
    arc.arcMoveTo(circleBox(centre, radius), start);
    arc.arcTo(circleBox(centre, radius), start, sweep);
    p.setPen(ink.stroke(4));
    p.setBrush(Qt::NoBrush);
    p.drawPath(arc);
}

// A nearly closed circle running clockwise with an arrow head at its end.
void circularArrow(QPainter& p, const GlyphInk& ink) {
    const QPointF centre(24, 25);
    const qreal radius = 10.5;
    const qreal start = 40, sweep = -290; // clockwise, leaving a gap at the upper right
    strokeArc(p, ink, centre, radius, start, sweep);

    const qreal end = qDegreesToRadians(start + sweep);
    const QPointF tip = onCircle(centre, radius, start + sweep);
    const QPointF along(qSin(end), qCos(end)); // direction of clockwise travel
    const QPointF outward(qCos(end), -qSin(end));
    fillPolygon(p, ink,
                QPolygonF({tip + along * 7, tip + outward * 6.5 - along * 1.5,
                           tip - outward * 6.5 - along * 1.5}));
}

void magnifier(QPainter& p, const GlyphInk& ink) {
    p.setBrush(Qt::NoBrush);
    p.setPen(ink.stroke(4));
    p.drawEllipse(circleBox({21, 21}, 8.5));
    p.setPen(ink.stroke(6));
    p.drawLine(QPointF(28, 28), QPointF(35.5, 35.5));
}

// An octagon with a cross in it: stop loading.
void stopSign(QPainter& p, const GlyphInk& ink) {
    QPolygonF octagon;
    for (int i = 0; i < 8; ++i)
        octagon << onCircle({24, 24}, 14.5, 22.5 + 45 * i);
    p.setPen(ink.stroke(3));
    p.setBrush(Qt::NoBrush);
    p.drawPolygon(octagon);
    p.setPen(ink.stroke(4));
    p.drawLine(QPointF(18.5, 18.5), QPointF(29.5, 29.5));
    p.drawLine(QPointF(29.5, 18.5), QPointF(18.5, 29.5));
}

// A loudspeaker on the left half; the volume glyphs add a sign to its right.
void speaker(QPainter& p, const GlyphInk& ink) {
    fillPolygon(p, ink,
                QPolygonF({{9, 19.5}, {15, 19.5}, {23, 12.5}, {23, 35.5}, {15, 28.5}, {9, 28.5}}));
}

constexpr qreal kSignX = 33; // centre of the sign beside the speaker
constexpr qreal kSignArm = 5;

void speakerMuted(QPainter& p, const GlyphInk& ink) {
    speaker(p, ink);
    p.setPen(ink.stroke(3.5));
    const qreal a = kSignArm - 0.5; // a cross looks larger than a bar of the same reach
    p.drawLine(QPointF(kSignX - a, 24 - a), QPointF(kSignX + a, 24 + a));
    p.drawLine(QPointF(kSignX + a, 24 - a), QPointF(kSignX - a, 24 + a));
}

void speakerMinus(QPainter& p, const GlyphInk& ink) {
    speaker(p, ink);
    p.setPen(ink.stroke(3.5));
    p.drawLine(QPointF(kSignX - kSignArm, 24), QPointF(kSignX + kSignArm, 24));
}

void speakerPlus(QPainter& p, const GlyphInk& ink) {
    speakerMinus(p, ink);
    p.drawLine(QPointF(kSignX, 24 - kSignArm), QPointF(kSignX, 24 + kSignArm));
}

// Two triangles and a bar: skip to the next track; "previous" is its mirror image.
void nextTrack(QPainter& p, const GlyphInk& ink) {
    fillPolygon(p, ink, QPolygonF({{11, 14}, {22, 24}, {11, 34}}));
    fillPolygon(p, ink, QPolygonF({{22, 14}, {33, 24}, {22, 34}}));
    p.drawRect(QRectF(33.5, 14, 3.5, 20));
}

void playTriangle(QPainter& p, const GlyphInk& ink) {
    p.setPen(ink.stroke(2.5));
    p.setBrush(ink.fill());
    p.drawPolygon(QPolygonF({{17.5, 13}, {35, 24}, {17.5, 35}}));
}

void stopSquare(QPainter& p, const GlyphInk& ink) {
    ink.useFill(p);
    p.drawRoundedRect(QRectF(15, 15, 18, 18), 2.5, 2.5);
}

void powerSymbol(QPainter& p, const GlyphInk& ink) {
    const QPointF centre(24, 25.5);
    const qreal radius = 11.5;
    const qreal start = 60, sweep = -300; // clockwise, open at the top for the bar
    strokeArc(p, ink, centre, radius, start, sweep);
    p.drawLine(QPointF(24, 10.5), QPointF(24, 24));
}

void crescentMoon(QPainter& p, const GlyphInk& ink) {
    QPainterPath disc;
    disc.addEllipse(circleBox({23, 25}, 13));
    QPainterPath bite;
    bite.addEllipse(circleBox({30.5, 19}, 11));
    ink.useFill(p);
    p.drawPath(disc.subtracted(bite));
}

void sun(QPainter& p, const GlyphInk& ink) {
    const QPointF centre(24, 24);
    ink.useFill(p);
    p.drawEllipse(circleBox(centre, 6.5));
    p.setPen(ink.stroke(3));
    for (int i = 0; i < 8; ++i)
        p.drawLine(onCircle(centre, 10.5, 45 * i), onCircle(centre, 15.5, 45 * i));
}

} // namespace

std::vector<ArtPicture> drawActionIcons() {
    const struct {
        const char* name;
        GlyphFunction glyph;
    } icons[] = {
        {"ACTION_BROWSER_BACK", arrowLeft},
        {"ACTION_BROWSER_FAVORITES", star},
        {"ACTION_BROWSER_FORWARD", mirrored(arrowLeft)},
        {"ACTION_BROWSER_HOME", house},
        {"ACTION_BROWSER_RELOAD", circularArrow},
        {"ACTION_BROWSER_SEARCH", magnifier},
        {"ACTION_BROWSER_STOP", stopSign},
        {"ACTION_MEDIA_MUTE", speakerMuted},
        {"ACTION_MEDIA_NEXT_TRACK", nextTrack},
        {"ACTION_MEDIA_PLAY", playTriangle},
        {"ACTION_MEDIA_PREV_TRACK", mirrored(nextTrack)},
        {"ACTION_MEDIA_STOP", stopSquare},
        {"ACTION_MEDIA_VOL_DOWN", speakerMinus},
        {"ACTION_MEDIA_VOL_UP", speakerPlus},
        {"ACTION_SYSTEM_POWER", powerSymbol},
        {"ACTION_SYSTEM_SLEEP", crescentMoon},
        {"ACTION_SYSTEM_WAKE_UP", sun},
    };
    std::vector<ArtPicture> pictures;
    for (const auto& icon : icons)
        pictures.push_back({QString::fromLatin1(icon.name), drawKeyIcon(icon.glyph)});
    return pictures;
}
