#include "ArtFont.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QTransform>

namespace {

const QString kFamily = QStringLiteral("DejaVu Sans");

// Outlines are taken at this size and scaled; without hinting they scale exactly.
constexpr int kReferenceSize = 256;

QFont referenceFont(QFont::Weight weight) {
    QFont font(kFamily);
    font.setPixelSize(kReferenceSize);
    font.setWeight(weight);
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::StyleStrategy(QFont::PreferOutline | QFont::NoFontMerging));
    return font;
}

} // namespace

QString checkArtFont() {
    if (!QFontDatabase::families().contains(kFamily))
        return QStringLiteral("the font %1 is not installed (Debian: fonts-dejavu-core)")
            .arg(kFamily);
    const QString found = QFontInfo(referenceFont(QFont::Bold)).family();
    if (found != kFamily)
        return QStringLiteral("asked for the font %1 but got %2").arg(kFamily, found);
    return {};
}

QPainterPath textOutline(const QString& text, qreal pixelSize, QFont::Weight weight,
                         qreal letterSpacing) {
    const qreal scale = pixelSize / kReferenceSize;
    QFont font = referenceFont(weight);
    if (letterSpacing != 0)
        font.setLetterSpacing(QFont::AbsoluteSpacing, letterSpacing / scale);
    QPainterPath path;
    path.addText(0, 0, font, text);
    return QTransform::fromScale(scale, scale).map(path);
}

qreal capHeight(qreal pixelSize, QFont::Weight weight) {
    return QFontMetricsF(referenceFont(weight)).capHeight() * pixelSize / kReferenceSize;
}
