#include "kit/QXKeySurfacePainter.h"

#include <QFontDatabase>
#include <QPaintDevice>
#include <cstddef>
#include <map>
#include <mutex>

namespace {

constexpr int kBytesPerPixel = 3;

// The key surface is a 96 DPI device: a point is 96 / 72 pixels.
constexpr double kSurfaceDpi = 96.0;

bool usable(const QXDrawingSurface* surface) {
    return surface && surface->bits && surface->width > 0 && surface->height > 0 &&
           surface->stride >= surface->width * kBytesPerPixel;
}

// Surface row y counted from the top: the surface stores the bottom row first.
unsigned char* surfaceRow(const QXDrawingSurface& surface, int y) {
    return surface.bits + static_cast<ptrdiff_t>(surface.height - 1 - y) * surface.stride;
}

} // namespace

QXKeySurfacePainter::QXKeySurfacePainter(QXDrawingSurface* surface)
    : m_surface(usable(surface) ? surface : nullptr) {
    if (m_surface) {
        m_image = QImage(m_surface->width, m_surface->height, QImage::Format_RGB32);
        for (int y = 0; y < m_image.height(); ++y) {
            const unsigned char* from = surfaceRow(*m_surface, y);
            auto* to = reinterpret_cast<QRgb*>(m_image.scanLine(y));
            for (int x = 0; x < m_image.width(); ++x, from += kBytesPerPixel)
                to[x] = qRgb(from[2], from[1], from[0]);
        }
    } else {
        m_image = QImage(48, 48, QImage::Format_RGB32);
        m_image.fill(Qt::black);
    }
    m_painter.begin(&m_image);
}

QXKeySurfacePainter::~QXKeySurfacePainter() {
    commit();
}

void QXKeySurfacePainter::commit() {
    if (m_committed)
        return;
    m_committed = true;
    m_painter.end();
    if (!m_surface)
        return;
    for (int y = 0; y < m_image.height(); ++y) {
        const auto* from = reinterpret_cast<const QRgb*>(m_image.constScanLine(y));
        unsigned char* to = surfaceRow(*m_surface, y);
        for (int x = 0; x < m_image.width(); ++x, to += kBytesPerPixel) {
            to[0] = static_cast<unsigned char>(qBlue(from[x]));
            to[1] = static_cast<unsigned char>(qGreen(from[x]));
            to[2] = static_cast<unsigned char>(qRed(from[x]));
        }
    }
}

QFont QXKeySurfacePainter::keyFont(const QString& family, double points,
                                   const QPaintDevice& device) {
    // Asking fontconfig costs about a millisecond, too much for views that draw every
    // second, so the answer is kept for the process's life: a family installed meanwhile
    // is used from the next start.
    static std::mutex mutex;
    static std::map<QString, bool> known;
    bool has;
    {
        std::lock_guard lock(mutex);
        auto it = known.find(family);
        if (it == known.end())
            it = known.emplace(family, QFontDatabase::hasFamily(family)).first;
        has = it->second;
    }
    QFont font;
    if (has) {
        font.setFamily(family);
    } else {
        font.setFamily(QStringLiteral("sans-serif"));
        font.setStyleHint(QFont::SansSerif);
    }
    font.setPointSizeF(points * kSurfaceDpi / device.logicalDpiY());
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}
