#pragma once

#include <QImage>
#include <cstdint>

// One 48 x 48 picture per library shared by every view that shows it: the renderer R paints
// it at most once every P milliseconds however many views ask, so all of them show the same
// picture of one stream of samples. R has render(QImage& image, uint32_t now), which gets
// the image cleared to black. Made on first use, destroyed when the library unloads.
//
// Threads: only ever used on the working thread, which runs one view update at a time.
template <typename R, uint32_t P> class CImageCacherSingleton {
public:
    static CImageCacherSingleton& instance() {
        static CImageCacherSingleton cacher;
        return cacher;
    }

    // The picture at millisecond tick now: rendered afresh when it never was or more than
    // P milliseconds (unsigned 32-bit difference) passed since it was.
    const QImage& image(uint32_t now) {
        if (!m_rendered || now - m_renderedAt > P) {
            m_image.fill(Qt::black);
            m_renderer.render(m_image, now);
            m_renderedAt = now;
            m_rendered = true;
        }
        return m_image;
    }

    R& renderer() { return m_renderer; }

private:
    CImageCacherSingleton() = default;

    R m_renderer;
    QImage m_image{48, 48, QImage::Format_RGB32};
    uint32_t m_renderedAt = 0;
    bool m_rendered = false;
};
