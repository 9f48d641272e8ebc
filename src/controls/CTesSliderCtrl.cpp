// The slider's geometry and drawing. Lines are drawn pixel by pixel, leaving out each
// polyline's last point, so the picture is the same under every style and scale.

#include "controls/CTesSliderCtrl.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QProxyStyle>
#include <QStyleOptionSlider>
#include <initializer_list>

namespace {

constexpr int kThumbHalfWidth = 5;
constexpr int kThumbTop = 2;
constexpr int kThumbHeight = 14;

// The groove and thumb places of CTesSliderCtrl for QSlider's own mouse handling: the
// thumb centre runs from the inset to the width minus the inset.
class SliderGeometryStyle : public QProxyStyle {
public:
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl part,
                         const QWidget* widget) const override {
        const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
        if (control != CC_Slider || !slider) {
            return QProxyStyle::subControlRect(control, option, part, widget);
        }
        const int inset = CTesSliderCtrl::kInset;
        const int w = slider->rect.width();
        const int span = std::max(0, w - 2 * inset);
        const int left = inset - kThumbHalfWidth;
        switch (part) {
        case SC_SliderGroove:
            // QSlider maps positions over groove width minus thumb width: that is span.
            return QRect(left, 0, span + 2 * kThumbHalfWidth + 1, slider->rect.height());
        case SC_SliderHandle:
            return QRect(left + sliderPositionFromValue(slider->minimum, slider->maximum,
                                                        slider->sliderPosition, span,
                                                        slider->upsideDown),
                         kThumbTop, 2 * kThumbHalfWidth + 1, kThumbHeight);
        default:
            return QProxyStyle::subControlRect(control, option, part, widget);
        }
    }
};

// Plots a polyline of horizontal, vertical and 45-degree segments, without its last point.
void plotPolyline(QPainter* dc, const QPen& pen, std::initializer_list<QPoint> points) {
    QPolygon pixels;
    const QPoint* previous = nullptr;
    for (const QPoint& point : points) {
        if (previous) {
            const int sx = (point.x() > previous->x()) - (point.x() < previous->x());
            const int sy = (point.y() > previous->y()) - (point.y() < previous->y());
            for (QPoint p = *previous; p != point; p += QPoint(sx, sy)) {
                pixels << p;
            }
        }
        previous = &point;
    }
    dc->setPen(pen);
    dc->drawPoints(pixels);
}

QPen solidPen(int red, int green, int blue) {
    QPen pen(QColor(red, green, blue));
    pen.setWidth(1);
    pen.setCosmetic(true);
    return pen;
}

} // namespace

CTesSliderCtrl::CTesSliderCtrl(QWidget* parent)
    : QSlider(Qt::Horizontal, parent), m_thumbOutline(solidPen(159, 167, 171)),
      m_thumbShadow(solidPen(90, 96, 99)), m_thumbHighlight(solidPen(255, 255, 255)),
      m_thumbMark(solidPen(207, 210, 213)), m_channel(solidPen(149, 149, 149)),
      m_geometryStyle(std::make_unique<SliderGeometryStyle>()) {
    setStyle(m_geometryStyle.get());
}

CTesSliderCtrl::~CTesSliderCtrl() {
    setStyle(nullptr); // back to the application's style before ours goes
}

void CTesSliderCtrl::SetTicFreq(int freq) {
    ticFreq = freq;
    setTickInterval(freq > 0 ? freq : 0);
    update();
}

unsigned int CTesSliderCtrl::GetNumTics() const {
    if (ticFreq <= 0) {
        return 2;
    }
    const long long range = static_cast<long long>(maximum()) - minimum();
    return static_cast<unsigned int>(range / ticFreq + 1);
}

QRect CTesSliderCtrl::GetThumbRect() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
}

QSize CTesSliderCtrl::sizeHint() const {
    return QSize(2 * kInset + 100, kThumbTop + kThumbHeight + 4);
}

QSize CTesSliderCtrl::minimumSizeHint() const {
    return QSize(2 * kInset + 2 * kThumbHalfWidth, kThumbTop + kThumbHeight + 4);
}

void CTesSliderCtrl::OnCustomDraw(QPainter* dc) {
    const int w = width();
    plotPolyline(dc, m_channel, {{kInset, kChannelY}, {w - kInset, kChannelY}});

    const int n = static_cast<int>(GetNumTics());
    if (n > 2 && w > 2 * kInset) {
        const int step = (w - 2 * kInset) / (n - 1);
        const int spare = w - (n - 1) * step - 2 * kInset;
        // The pixels left over by the even step go one each to every e-th tick, so the
        // last tick lands on the channel's end.
        const int every = spare == 0 ? n + 2 : (n - 1) / spare;
        int taken = 0;
        for (int i = 0; i < n; ++i) {
            const int x = kInset + i * step + taken;
            plotPolyline(dc, m_channel, {{x, kChannelY}, {x, i % 2 == 0 ? 3 : 5}});
            if (taken < spare && i % every == 0) {
                ++taken;
            }
        }
    }

    const QRect thumb = GetThumbRect();
    const int t = thumb.top();
    const int c = (thumb.left() + thumb.right()) / 2;
    plotPolyline(dc, m_thumbOutline, {{c, t}, {c - 5, t + 5}, {c - 5, t + 14}});
    plotPolyline(dc, m_thumbOutline, {{c + 1, t + 2}, {c + 5, t + 6}});
    plotPolyline(dc, m_thumbOutline, {{c + 3, t + 4}, {c + 3, t + 11}, {c - 4, t + 11}});
    plotPolyline(dc, m_thumbShadow, {{c - 4, t + 13}, {c + 5, t + 13}, {c + 5, t + 5}, {c, t}});
    plotPolyline(dc, m_thumbHighlight, {{c, t + 1}, {c - 4, t + 5}, {c - 4, t + 13}});
    plotPolyline(dc, m_thumbMark, {{c - 3, t + 10}, {c + 3, t + 10}});
}

int CTesSliderCtrl::OnEraseBkgnd(QPainter*) {
    return 0; // the parent's background shows through; only the lines are drawn
}

void CTesSliderCtrl::OnLButtonDown(unsigned int, QPoint) {
    SendNotify(NM_LDOWN);
}

void CTesSliderCtrl::SendNotify(int code) {
    emit notify(code);
}

void CTesSliderCtrl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    OnEraseBkgnd(&painter);
    OnCustomDraw(&painter);
}

void CTesSliderCtrl::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        OnLButtonDown(event->buttons(), event->position().toPoint());
    }
    QSlider::mousePressEvent(event);
}
