#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <functional>

// Side of a key display and of every key picture, in pixels.
constexpr int kKeySize = 48;

// How a glyph is inked: glyph functions draw with these pens and brushes only, so the same
// function draws both the glyph and its shadow.
class GlyphInk {
public:
    explicit GlyphInk(QColor color) : m_color(color) {}

    QColor color() const { return m_color; }
    // A stroke of the given width with round caps and joins.
    QPen stroke(qreal width) const;
    QBrush fill() const { return QBrush(m_color); }
    // Sets a fill with a thin outline of the same colour, which softens sharp corners.
    void useFill(QPainter& painter) const;

private:
    QColor m_color;
};

using GlyphFunction = std::function<void(QPainter&, const GlyphInk&)>;

// How a key face is lit: plain, or brighter for a key whose state is on (a lock key with its
// lock on).
enum class KeyTone { Plain, Lit };

// A blank dark key face with rounded corners on a transparent square of kKeySize pixels.
QImage drawKeyFace(KeyTone tone = KeyTone::Plain);

// Draws a glyph onto a key face in the light glyph colour with a soft drop shadow. Glyph
// functions draw in the 48 by 48 pixel space of the key, centred on (24, 24).
void drawGlyph(QImage& face, const GlyphFunction& glyph);

// Convenience: a key face with one glyph.
QImage drawKeyIcon(const GlyphFunction& glyph);

// Wraps a glyph so that it is drawn mirrored left to right about the key's centre.
GlyphFunction mirrored(GlyphFunction glyph);
