#pragma once

#include "pluginhost/QXPluginInterfaces.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRect>

// A QPainter on a key's drawing surface (the context's GetDC()): the surface is copied into
// a top-down RGB image, painted there, and copied back, rows flipped into the surface's
// bottom-up blue-green-red order, by commit() or the destructor. Pixels left unpainted keep
// their content. The view then publishes the surface with UpdateImage:
//
//     {
//         QXKeySurfacePainter surface(context()->GetDC());
//         surface.painter().fillRect(surface.rect(), Qt::black);
//         surface.painter().drawText(surface.rect(), Qt::AlignCenter, text);
//     }
//     context()->UpdateImage();
//
// Threads: any one thread at a time (views draw on the working thread or their own); text
// needs a QGuiApplication to exist. The surface belongs to the program and must stay valid
// while the object lives; a null surface (the view was never activated) paints into the
// image only.
class QXKeySurfacePainter {
public:
    explicit QXKeySurfacePainter(QXDrawingSurface* surface);
    ~QXKeySurfacePainter();
    QXKeySurfacePainter(const QXKeySurfacePainter&) = delete;
    QXKeySurfacePainter& operator=(const QXKeySurfacePainter&) = delete;

    // Active until commit().
    QPainter& painter() { return m_painter; }
    const QImage& image() const { return m_image; }
    QRect rect() const { return m_image.rect(); }

    // Ends painting and writes the picture to the surface; later calls do nothing.
    void commit();

    // The font key pictures draw text with: family when the system has it, else the
    // desktop's generic sans-serif family (not whatever family Qt would substitute by name);
    // points on the key's 96 DPI scale, whatever the device's; anti-aliased.
    static QFont keyFont(const QString& family, double points, const QPaintDevice& device);

private:
    QXDrawingSurface* m_surface;
    QImage m_image;
    QPainter m_painter; // after m_image: ends before the image goes
    bool m_committed = false;
};
