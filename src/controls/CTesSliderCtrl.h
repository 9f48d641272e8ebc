#pragma once

#include "controls/TesControlsApi.h"

#include <QPen>
#include <QSlider>
#include <memory>

class QPainter;
class QStyle;

// A horizontal slider with a drawing of its own: a grey channel 13 pixels in from either
// end at y 8, tick marks above it spread evenly over the channel, and a pointed thumb in
// five 1-pixel pens. Every line leaves out its last pixel, so a line "from (13, 8) to
// (113, 8)" covers x 13 to 112.
//
// A left-button press is announced with notify(NM_LDOWN) before the slider reacts to it.
// GUI thread only.
class TES_CONTROLS_API CTesSliderCtrl : public QSlider {
    Q_OBJECT
public:
    static constexpr int NM_LDOWN = -20;
    // Where the thumb centre runs: from kInset to width() - kInset.
    static constexpr int kInset = 13;
    static constexpr int kChannelY = 8;

    explicit CTesSliderCtrl(QWidget* parent = nullptr);
    ~CTesSliderCtrl() override;

    // A tick every freq values; 0 or less: ticks only at the ends (and none drawn).
    void SetTicFreq(int freq);
    // Ticks including both ends: 2 without a frequency, else range / frequency + 1.
    unsigned int GetNumTics() const;
    // The thumb's rectangle (11 x 14, its centre over the value's place on the channel).
    QRect GetThumbRect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // A notification of this control to its parent (NM_LDOWN, ...).
    void notify(int code);

protected:
    void OnCustomDraw(QPainter* dc);
    int OnEraseBkgnd(QPainter* dc);
    void OnLButtonDown(unsigned int flags, QPoint point);
    void SendNotify(int code);

    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    int ticFreq = -1;
    QPen m_thumbOutline;
    QPen m_thumbShadow;
    QPen m_thumbHighlight;
    QPen m_thumbMark;
    QPen m_channel;
    // Tells QSlider where the groove and the thumb are, so that clicks and drags agree
    // with the drawing. Owned; set as this widget's style.
    std::unique_ptr<QStyle> m_geometryStyle;
};
