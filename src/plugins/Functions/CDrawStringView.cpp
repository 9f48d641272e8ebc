#include "CDrawStringView.h"

#include "CDrawStringPropertiesFrame.h"
#include "kit/QXKeySurfacePainter.h"

#include <QFont>
#include <QPainter>
#include <QTextOption>

namespace {

QColor fromColorref(uint32_t colorref) {
    return QColor(colorref & 0xFF, (colorref >> 8) & 0xFF, (colorref >> 16) & 0xFF);
}

QFont pictureFont(const DrawStringSettings& settings, const QPaintDevice& device) {
    QString family = settings.font.isEmpty() ? QStringLiteral("Tahoma") : settings.font;
    int points = settings.size < 4 ? 8 : settings.size;
    QFont font = QXKeySurfacePainter::keyFont(family, points, device);
    font.setBold(settings.bold);
    font.setItalic(settings.italic);
    return font;
}

} // namespace

CDrawStringView::CDrawStringView(IQXViewPluginContext* context) : CQXPluginInstance(context) {
    using FunctionsProps::read;
    using FunctionsProps::readNumber;
    m_settings.text = read(context, u"String");
    m_settings.font = read(context, u"Font");
    m_settings.size = static_cast<int>(readNumber(context, u"Size"));
    m_settings.color = static_cast<uint32_t>(readNumber(context, u"Color"));
    m_settings.bkColor = static_cast<uint32_t>(readNumber(context, u"BkColor"));
    m_settings.bold = readNumber(context, u"Bold") > 0;
    m_settings.italic = readNumber(context, u"Italic") > 0;
}

void CDrawStringView::paint(const DrawStringSettings& settings, QPainter& painter) {
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    uint32_t color = settings.color;
    if (color == 0 && settings.bkColor == 0)
        color = 0x00FFFFFF;
    QRect rect(0, 0, 48, 48);
    painter.fillRect(rect, fromColorref(settings.bkColor));
    painter.setPen(fromColorref(color));
    painter.setFont(pictureFont(settings, *painter.device()));
    QString text = settings.text.isEmpty() ? QStringLiteral("Sample text") : settings.text;
    // Lines break between words, and inside a word too long for the key.
    QTextOption layout(Qt::AlignCenter);
    layout.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    painter.drawText(QRectF(rect), text, layout);
}

void CDrawStringView::draw() {
    {
        QXKeySurfacePainter surface(context()->GetDC());
        paint(m_settings, surface.painter());
    }
    context()->UpdateImage();
}

QXWindowHandle CDrawStringView::CreateGUI(QXWindowHandle parent) {
    return m_page.show(new CDrawStringPropertiesFrame(this, static_cast<QWidget*>(parent)));
}

void CDrawStringView::store(const char16_t* name, const QString& value) {
    FunctionsProps::write(context(), name, value);
    draw();
}

void CDrawStringView::setText(const QString& text) {
    m_settings.text = text;
    store(u"String", text);
}
void CDrawStringView::setFont(const QString& family) {
    m_settings.font = family;
    store(u"Font", family);
}
void CDrawStringView::setSize(int points) {
    m_settings.size = points;
    store(u"Size", QString::number(points));
}
void CDrawStringView::setColor(uint32_t colorref) {
    m_settings.color = colorref;
    store(u"Color", QString::number(colorref));
}
void CDrawStringView::setBkColor(uint32_t colorref) {
    m_settings.bkColor = colorref;
    store(u"BkColor", QString::number(colorref));
}
void CDrawStringView::setBold(bool bold) {
    m_settings.bold = bold;
    store(u"Bold", bold ? QStringLiteral("1") : QStringLiteral("0"));
}
void CDrawStringView::setItalic(bool italic) {
    m_settings.italic = italic;
    store(u"Italic", italic ? QStringLiteral("1") : QStringLiteral("0"));
}
