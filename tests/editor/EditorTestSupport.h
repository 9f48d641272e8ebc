#pragma once

// What the editor's tests share: a widget application on Qt's offscreen platform, a
// message counter and a key picture's centre colour.
#include "store/QXImage.h"
#include "support/QXTestSupport.h"

#include <QApplication>
#include <QColor>

namespace qxtest {

// The application the widgets need, made once per test program on the offscreen platform.
inline void ensureOffscreenApplication() {
    static ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "editor_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QApplication(argc, argv);
}

// Counts the dispatch messages it is registered for.
struct Counter {
    int count = 0;
    void hit() { ++count; }
};

inline QRgb centreOf(const QXImage& image) {
    RGBQUAD c{};
    image.getPixelColor(24, 24, &c);
    return qRgb(c.rgbRed, c.rgbGreen, c.rgbBlue);
}

} // namespace qxtest
