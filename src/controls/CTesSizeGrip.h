#pragma once

#include "controls/TesControlsApi.h"

#include <QPixmap>
#include <QWidget>

// The 16 x 16 size grip of a CTesDialog, identifier "5000". It only shows a picture: the
// style's size-grip primitive drawn on the button face, or the library's own grip icon
// when the style draws nothing there. Mouse events pass through it to the dialog, which
// owns the pointer shape and the resizing.
class TES_CONTROLS_API CTesSizeGrip : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSize = 16;
    static constexpr const char* kId = "5000";

    explicit CTesSizeGrip(QWidget* parent);

    const QPixmap& picture() const { return m_picture; }
    // True when the style drew nothing and the library's icon is shown instead.
    bool usesIcon() const { return m_usesIcon; }

    // The library's own grip picture: three rows of raised dots along the diagonal.
    static QPixmap fallbackIcon(const QPalette& palette);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildPicture();

    QPixmap m_picture;
    bool m_usesIcon = false;
};
