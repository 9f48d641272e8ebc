#include "MailIcons.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int kSize = 48;
// The envelope's body, above the badge's row (centred on y = 36).
const QRectF kBody(8, 12, 32, 21);

const QColor kPaper(0xee, 0xea, 0xdf);
const QColor kPaperDim(0x8a, 0x8f, 0x99);
const QColor kEdge(0x3a, 0x3f, 0x4a);

QImage ground() {
    QImage image(kSize, kSize, QImage::Format_RGB888);
    QPainter p(&image);
    QLinearGradient g(0, 0, 0, kSize);
    g.setColorAt(0, QColor(0x2a, 0x30, 0x3c));
    g.setColorAt(1, QColor(0x12, 0x15, 0x1c));
    p.fillRect(image.rect(), g);
    return image;
}

QPen edge(qreal width, const QColor& colour = kEdge) {
    return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// The body with its flap folded down (closed) or standing up behind it (open).
void envelope(QPainter& p, bool open, const QColor& paper) {
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF tl = kBody.topLeft(), tr = kBody.topRight();
    const QPointF bl = kBody.bottomLeft(), br = kBody.bottomRight();
    const QPointF mid(kBody.center().x(), kBody.top() + kBody.height() * 0.55);
    if (open) {
        // The flap behind the body, pointing up, and the inside shaded.
        p.setPen(edge(1.2));
        p.setBrush(paper.darker(125));
        p.drawPolygon(QPolygonF({tl, QPointF(kBody.center().x(), kBody.top() - 10), tr}));
    }
    p.setPen(edge(1.2));
    p.setBrush(paper);
    p.drawRect(kBody);
    // The side folds meet at the middle.
    p.setPen(edge(1));
    p.drawLine(bl, mid);
    p.drawLine(br, mid);
    if (!open) {
        p.setBrush(paper.darker(108));
        p.drawPolygon(QPolygonF({tl, mid, tr}));
    } else {
        p.setPen(edge(1));
        p.drawLine(tl, mid);
        p.drawLine(tr, mid);
    }
}

QImage closedEnvelope(const QColor& paper = kPaper) {
    QImage image = ground();
    QPainter p(&image);
    envelope(p, false, paper);
    return image;
}

QImage openEnvelope() {
    QImage image = ground();
    QPainter p(&image);
    envelope(p, true, kPaperDim);
    return image;
}

// A chain of two links pulled apart, in amber, at the top right.
QImage brokenLink() {
    QImage image = closedEnvelope(kPaperDim);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor amber(0xf0, 0xa0, 0x30);
    p.setPen(QPen(amber, 2.4, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.save();
    p.translate(36, 10);
    p.rotate(-45);
    p.drawRoundedRect(QRectF(-11, -3, 8, 6), 3, 3);
    p.drawRoundedRect(QRectF(3, -3, 8, 6), 3, 3);
    p.restore();
    p.setPen(QPen(amber, 1.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(33, 5), QPointF(32, 2));
    p.drawLine(QPointF(41, 13), QPointF(44, 14));
    return image;
}

// A letter sliding into the open envelope: mail has arrived.
QImage arriving() {
    QImage image = ground();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    envelope(p, true, kPaper);
    p.setPen(edge(1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(14, 3, 20, 17));
    p.setPen(edge(1, QColor(0x90, 0x98, 0xa8)));
    for (int y = 7; y <= 15; y += 4)
        p.drawLine(QPointF(17, y), QPointF(31, y));
    // The envelope's front over the letter's lower part.
    const QPointF bl = kBody.bottomLeft(), br = kBody.bottomRight();
    const QPointF mid(kBody.center().x(), kBody.top() + kBody.height() * 0.55);
    p.setPen(edge(1.2));
    p.setBrush(kPaper);
    p.drawPolygon(QPolygonF({kBody.topLeft(), mid, kBody.topRight(), br, bl}));
    p.setPen(edge(1));
    p.drawLine(bl, mid);
    p.drawLine(br, mid);
    return image;
}

QImage cross() {
    QImage image = closedEnvelope(kPaperDim);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x1a, 0x1a, 0x1a), 6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(30, 4), QPointF(42, 16));
    p.drawLine(QPointF(42, 4), QPointF(30, 16));
    p.setPen(QPen(QColor(0xe0, 0x30, 0x30), 3.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(30, 4), QPointF(42, 16));
    p.drawLine(QPointF(42, 4), QPointF(30, 16));
    return image;
}

} // namespace

std::vector<ArtPicture> drawMailIcons() {
    return {
        {QStringLiteral("mail"), closedEnvelope()},
        {QStringLiteral("no_mail"), openEnvelope()},
        {QStringLiteral("no_connect"), brokenLink()},
        {QStringLiteral("mailer_get"), arriving()},
        {QStringLiteral("mailer_no"), openEnvelope()},
        {QStringLiteral("mailer_error"), cross()},
    };
}
