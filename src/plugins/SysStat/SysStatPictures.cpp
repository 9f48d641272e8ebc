#include "SysStatPictures.h"

#include "kit/QXKeySurfacePainter.h"

#include <QColor>
#include <QFontMetricsF>
#include <QPainter>
#include <QString>
#include <algorithm>

namespace SysStatPictures {

namespace {

const QColor kGreen(0x85, 0xE9, 0x27);
const QColor kRedOrange(0xE5, 0x53, 0x33);
const QColor kOrange(0xE9, 0x85, 0x27);

// Draws text centred on (x, y). A text wider than the key (a six-digit memory figure, a
// four-digit rate in the desktop's sans-serif, wider than the family asked for) is drawn
// smaller until it fits, so the key never shows half a figure.
void drawCentred(QPainter& painter, double x, double y, const QString& text) {
    constexpr double kRoom = 44; // a pixel and a half clear on either side
    QRectF around(x - 100, y - 50, 200, 100);
    double width = QFontMetricsF(painter.font(), painter.device()).horizontalAdvance(text);
    if (width <= kRoom) {
        painter.drawText(around, Qt::AlignCenter, text);
        return;
    }
    QFont font = painter.font();
    QFont smaller = font;
    smaller.setPointSizeF(std::max(1.0, font.pointSizeF() * kRoom / width));
    painter.setFont(smaller);
    painter.drawText(around, Qt::AlignCenter, text);
    painter.setFont(font);
}

void beginText(QPainter& painter, const char* family, double points) {
    painter.fillRect(0, 0, 48, 48, Qt::black);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setFont(
        QXKeySurfacePainter::keyFont(QString::fromLatin1(family), points, *painter.device()));
    painter.setPen(kGreen);
}

} // namespace

void paintCpu(QPainter& painter, const SysStatFigures::CCpuHistory& history) {
    beginText(painter, "Tahoma", 12);
    drawCentred(painter, 24, 12, QStringLiteral("%1%").arg(history.newest().load));
    painter.setRenderHint(QPainter::Antialiasing, false);
    int k = 0;
    for (const SysStatFigures::CpuSample& sample : history.samples()) {
        int squares = sample.load / 10 + 1;
        int kernelSquares = sample.kernel / 10;
        for (int i = 0; i < squares; ++i)
            painter.fillRect(1 + 3 * k, 46 - 3 * i, 2, 2, i < kernelSquares ? kRedOrange : kGreen);
        ++k;
    }
}

void paintMem(QPainter& painter, uint32_t availableMiB, int loadPercent) {
    beginText(painter, "Tahoma", 8);
    drawCentred(painter, 24, 24, QStringLiteral("%1 MB").arg(availableMiB));
    painter.setRenderHint(QPainter::Antialiasing, false);
    int used = loadPercent * 48 / 100;
    painter.fillRect(0, 44, used, 4, kOrange);
    painter.fillRect(used, 44, 48 - used, 4, kGreen);
}

void paintNet(QPainter& painter, uint64_t received, uint64_t sent) {
    beginText(painter, "Arial", 8);
    drawCentred(painter, 24, 12,
                QChar(0x2193) + QString::fromStdString(SysStatFigures::formatRate(received)));
    drawCentred(painter, 24, 36,
                QChar(0x2191) + QString::fromStdString(SysStatFigures::formatRate(sent)));
}

} // namespace SysStatPictures
