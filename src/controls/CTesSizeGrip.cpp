// The size grip's picture: drawn once per style or palette, then only copied on paint.

#include "controls/CTesSizeGrip.h"

#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSizeGrip>

CTesSizeGrip::CTesSizeGrip(QWidget* parent) : QWidget(parent) {
    setObjectName(kId);
    setAccessibleName(tr("Size grip"));
    setFixedSize(kSize, kSize);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    buildPicture();
}

QPixmap CTesSizeGrip::fallbackIcon(const QPalette& palette) {
    QPixmap icon(kSize, kSize);
    icon.fill(palette.color(QPalette::Button));
    QPainter painter(&icon);
    // Dots on the three diagonals nearest the corner, each a light pixel over a dark one.
    for (int row = 0; row < 3; ++row) {
        for (int dot = 0; dot <= row; ++dot) {
            const int x = 13 - 4 * (row - dot);
            const int y = 13 - 4 * dot;
            painter.fillRect(x, y, 2, 2, palette.color(QPalette::Dark));
            painter.fillRect(x, y, 1, 1, palette.color(QPalette::Light));
        }
    }
    return icon;
}

void CTesSizeGrip::buildPicture() {
    const QColor face = palette().color(QPalette::Button);
    QImage image(kSize, kSize, QImage::Format_RGB32);
    image.fill(face);
    {
        QPainter painter(&image);
        QStyleOptionSizeGrip option;
        option.initFrom(this);
        option.rect = QRect(0, 0, kSize, kSize);
        option.corner = Qt::BottomRightCorner;
        style()->drawControl(QStyle::CE_SizeGrip, &option, &painter, this);
    }
    // A style without a grip primitive leaves the face untouched.
    bool drawn = false;
    for (int y = 0; y < kSize && !drawn; ++y) {
        for (int x = 0; x < kSize && !drawn; ++x) {
            drawn = image.pixelColor(x, y) != face;
        }
    }
    m_usesIcon = !drawn;
    m_picture = drawn ? QPixmap::fromImage(image) : fallbackIcon(palette());
}

void CTesSizeGrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_picture);
}

void CTesSizeGrip::changeEvent(QEvent* event) {
    if (event->type() == QEvent::StyleChange || event->type() == QEvent::PaletteChange) {
        buildPicture();
        update();
    }
    QWidget::changeEvent(event);
}
