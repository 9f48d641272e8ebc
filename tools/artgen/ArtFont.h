#pragma once

#include <QFont>
#include <QPainterPath>
#include <QString>

// Every text the generator draws is set in DejaVu Sans, asked for by name, so that the
// pictures do not change with the machine's default font. Text is drawn as outlines, which
// keeps it free of the font engine's hinting and allows sizes in fractions of a pixel.

// Empty when DejaVu Sans is there to draw with; otherwise says what is missing.
QString checkArtFont();

// The outline of one line of text, pixelSize pixels to the em, with its baseline on y = 0
// and starting at x = 0. letterSpacing pixels are added after each letter.
QPainterPath textOutline(const QString& text, qreal pixelSize, QFont::Weight weight = QFont::Bold,
                         qreal letterSpacing = 0);

// The height of a capital letter above the baseline at that size, in pixels.
qreal capHeight(qreal pixelSize, QFont::Weight weight = QFont::Bold);
