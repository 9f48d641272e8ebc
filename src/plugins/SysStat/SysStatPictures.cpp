#include "SysStatPictures.h"

#include "kit/QXKeySurfacePainter.h"

#include <QColor>
#include <QPainter>
#include <QString>

namespace SysStatPictures {

namespace {

const QColor kGreen(0x85, 0xE9, 0x27);
const QColor kRedOrange(0xE5, 0x53, 0x33);
const QColor kOrange(0xE9, 0x85, 0x27);

// Draws text centred on (x, y), wider than the key if it must be.
void drawCentred(QPainter& painter, double x, double y, const QString& text) {
    painter.drawText(QRectF(x - 100, y - 50, 200, 100), Qt::AlignCenter | Qt::TextDontClip, text);
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
