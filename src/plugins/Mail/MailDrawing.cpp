#include "MailDrawing.h"

#include "kit/QXKeySurfacePainter.h"
#include "platform/QXLog.h"

#include <FreeImage.h>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <dlfcn.h>
#include <memory>

namespace MailDrawing {

const std::string& pluginFolder() {
    static const std::string folder = [] {
        Dl_info info{};
        if (!dladdr(reinterpret_cast<void*>(&pluginFolder), &info) || !info.dli_fname)
            return std::string();
        std::string path = info.dli_fname;
        return path.substr(0, path.rfind('/') + 1);
    }();
    return folder;
}

void drawBackground(QPainter& painter, const char* name) {
    std::string path = pluginFolder() + name;
    FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path.c_str(), 0);
    if (format == FIF_UNKNOWN)
        return;
    std::unique_ptr<FIBITMAP, decltype(&FreeImage_Unload)> loaded(
        FreeImage_Load(format, path.c_str(), 0), &FreeImage_Unload);
    if (!loaded)
        return;
    std::unique_ptr<FIBITMAP, decltype(&FreeImage_Unload)> bitmap(
        FreeImage_ConvertTo32Bits(loaded.get()), &FreeImage_Unload);
    if (!bitmap)
        return;
    const int width = static_cast<int>(FreeImage_GetWidth(bitmap.get()));
    const int height = static_cast<int>(FreeImage_GetHeight(bitmap.get()));
    // FreeImage keeps rows bottom-up, each pixel blue, green, red, alpha in memory: on a
    // little-endian machine that is one 0xAARRGGBB word, QImage's ARGB32.
    QImage image(FreeImage_GetBits(bitmap.get()), width, height,
                 static_cast<qsizetype>(FreeImage_GetPitch(bitmap.get())),
                 QImage::Format_ARGB32);
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(0, 0, 48, 48), image.mirrored());
    painter.restore();
}

void drawBadge(QPainter& painter, uint32_t colorref, int count) {
    painter.save();
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    painter.setFont(QXKeySurfacePainter::keyFont(QStringLiteral("Tahoma"), 10, *painter.device()));
    const QString text = QString::number(count);
    const QPointF centre(24, 36);
    // The text's box centred on the point, with the sixth of an em at each side that a
    // measured string carries, then shrunk to the bar between the end circles.
    QRectF box = painter.boundingRect(QRectF(centre, QSizeF(0, 0)), Qt::AlignCenter, text);
    constexpr qreal kEmSixth = 10 * 96.0 / 72 / 6;
    box.adjust(-kEmSixth, 0, kEmSixth, 0);
    box = QRectF(box.x() + 4, box.y(), std::max<qreal>(0, box.width() - 10), box.height() - 2);
    const QColor colour(colorref & 0xFF, (colorref >> 8) & 0xFF, (colorref >> 16) & 0xFF);
    const qreal h = box.height();
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(box.x() - h / 2, box.y(), h, h));
    painter.drawEllipse(QRectF(box.x() + box.width() - h / 2, box.y(), h, h));
    painter.drawRect(box);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(centre, QSizeF(0, 0)), Qt::AlignCenter | Qt::TextDontClip, text);
    painter.restore();
}

void show(IQXViewPluginContext* context, const char* picture, int count, uint32_t colorref) {
    {
        QXKeySurfacePainter surface(context->GetDC());
        drawBackground(surface.painter(), picture);
        if (count > 0)
            drawBadge(surface.painter(), colorref, count);
    }
    context->UpdateImage();
}

} // namespace MailDrawing
