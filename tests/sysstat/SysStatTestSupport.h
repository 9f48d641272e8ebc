#pragma once

#include <QApplication>
#include <QColor>
#include <QImage>

namespace sysstattest {

// Text needs a GUI application; one is made for the whole run and kept.
inline void ensureApplication() {
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "sysstat_tests";
        static char* argv[] = {name, nullptr};
        qputenv("QT_QPA_PLATFORM", "offscreen");
        new QApplication(argc, argv);
    }
}

inline const QColor kGreen(0x85, 0xE9, 0x27);
inline const QColor kRedOrange(0xE5, 0x53, 0x33);
inline const QColor kOrange(0xE9, 0x85, 0x27);

// Pixels of the rectangle that are not black: where text or shapes were drawn.
inline int inkIn(const QImage& image, const QRect& rect) {
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) != 0)
                ++count;
    return count;
}

} // namespace sysstattest
