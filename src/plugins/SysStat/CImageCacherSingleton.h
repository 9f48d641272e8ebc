#pragma once

#include <QImage>
#include <cstdint>

// One 48 x 48 picture per library shared by every view that shows it: the renderer R paints
// it at most once every P milliseconds however many views ask, so all of them show the same
// picture of one stream of samples. R has bool render(QImage& image, uint32_t now), which
// gets the picture it painted last (black at first) and returns whether it changed it. A
// version number tells views whether the picture changed since they copied it. Made on
// first use, destroyed when the library unloads.
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
            if (m_renderer.render(m_image, now) || !m_rendered)
                ++m_version;
            m_renderedAt = now;
            m_rendered = true;
        }
        return m_image;
    }

    // Grows by one whenever the picture changes; never 0 once image() was called.
    uint64_t version() const { return m_version; }

    R& renderer() { return m_renderer; }

private:
    CImageCacherSingleton() = default;

    R m_renderer;
    QImage m_image = [] {
        QImage image(48, 48, QImage::Format_RGB32);
        image.fill(Qt::black);
        return image;
    }();
    uint64_t m_version = 0;
    uint32_t m_renderedAt = 0;
    bool m_rendered = false;
};
