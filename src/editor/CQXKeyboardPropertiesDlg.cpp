#include "editor/CQXKeyboardPropertiesDlg.h"

#include "controls/CTesDialogUnits.h"
#include "controls/CTesSliderCtrl.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <array>

namespace {

// Sleep-timeout breakpoints in seconds; the slider runs from the second to the last.
constexpr std::array<int, 7> kBreakpoints{0, 30, 60, 300, 1800, 3600, 9999};

const QString kSleepScale =
    QStringLiteral(" 30 sec   1 min    5 min    30 min     60 min      ?");
const QString kBrightnessScale =
    QStringLiteral("  0    10   20   30   40   50   60   70   80   90  100");

// The dialog's own layout, in dialog units: a quarter of the font's average character
// width across, an eighth of its height down.
constexpr int kWidth = 200, kHeight = 129;
struct Place {
    int x, y, cx, cy;
};
constexpr Place kSleepCaption{7, 7, 186, 8};
constexpr Place kSleepSlider{7, 17, 186, 11};
constexpr Place kSleepScalePlace{7, 29, 186, 8};
constexpr Place kReadOut{7, 39, 186, 8};
constexpr Place kBrightnessCaption{7, 53, 186, 8};
constexpr Place kBrightnessSlider{7, 63, 186, 11};
constexpr Place kBrightnessScalePlace{7, 75, 186, 8};
constexpr Place kAutomatic{7, 89, 140, 10};
constexpr Place kClose{143, 108, 50, 14};

// Places in the template's dialog units, each size measured on its own.
class DialogUnits : public CTesDialogUnits {
public:
    using CTesDialogUnits::CTesDialogUnits;
    QRect rect(const Place& p) const { return {x(p.x), y(p.y), x(p.cx), y(p.cy)}; }
};

QLabel* label(const QString& text, const char* name, QWidget* parent) {
    auto* result = new QLabel(text, parent);
    result->setObjectName(QString::fromLatin1(name));
    result->setAccessibleName(text.trimmed());
    return result;
}

} // namespace

CQXKeyboardPropertiesDlg::CQXKeyboardPropertiesDlg(QXKeyboardSettings& settings, QWidget* parent)
    : CTesDialog(0, parent, 0), m_settings(settings) {
    setObjectName(QStringLiteral("CQXKeyboardPropertiesDlg"));
    setWindowTitle(QStringLiteral("Properties"));
    setModal(true);
    const DialogUnits units(font());

    auto* sleepCaption = label(QStringLiteral("Sleep timeout:"), "sleepCaption", this);
    m_sleep = new CTesSliderCtrl(this);
    m_sleep->setObjectName(QStringLiteral("sleepTimeout"));
    m_sleep->setAccessibleName(QStringLiteral("Sleep timeout"));
    m_sleep->setRange(0, kSleepPositions);
    m_sleep->SetTicFreq(1);
    QString sleepScale = kSleepScale;
    sleepScale.back() = QChar(0x221E);
    auto* sleepScaleLabel = label(sleepScale, "sleepScale", this);
    sleepScaleLabel->setAccessibleName(QStringLiteral("Sleep timeout scale"));
    m_readOut = label(QString(), "sleepReadOut", this);
    m_readOut->setAccessibleName(QStringLiteral("Sleep timeout value"));
    m_readOut->hide();

    auto* brightnessCaption =
        label(QStringLiteral("Keyboard brightness:"), "brightnessCaption", this);
    m_brightness = new CTesSliderCtrl(this);
    m_brightness->setObjectName(QStringLiteral("brightness"));
    m_brightness->setAccessibleName(QStringLiteral("Keyboard brightness"));
    m_brightness->setRange(0, kBrightnessMax);
    m_brightness->SetTicFreq(2);
    auto* brightnessScaleLabel = label(kBrightnessScale, "brightnessScale", this);
    brightnessScaleLabel->setAccessibleName(QStringLiteral("Keyboard brightness scale"));
    m_automatic = new QCheckBox(QStringLiteral("Adjust automatically"), this);
    m_automatic->setObjectName(QStringLiteral("autoBrightness"));
    m_automatic->setAccessibleName(QStringLiteral("Adjust automatically"));
    m_close = new QPushButton(QStringLiteral("Close"), this);
    m_close->setObjectName(QStringLiteral("close"));
    m_close->setAccessibleName(QStringLiteral("Close"));
    m_close->setDefault(true);

    sleepCaption->setGeometry(units.rect(kSleepCaption));
    m_sleep->setGeometry(units.rect(kSleepSlider));
    sleepScaleLabel->setGeometry(units.rect(kSleepScalePlace));
    m_readOut->setGeometry(units.rect(kReadOut));
    brightnessCaption->setGeometry(units.rect(kBrightnessCaption));
    m_brightness->setGeometry(units.rect(kBrightnessSlider));
    brightnessScaleLabel->setGeometry(units.rect(kBrightnessScalePlace));
    m_automatic->setGeometry(units.rect(kAutomatic));
    m_close->setGeometry(units.rect(kClose));
    setFixedSize(units.x(kWidth), units.y(kHeight));

    // The stored values are shown before anything listens, so opening sends nothing.
    m_sleep->setValue(positionFromSeconds(static_cast<int>(m_settings.sleepDelay())));
    m_brightness->setValue(static_cast<int>(std::min<unsigned>(m_settings.brightness(),
                                                               kBrightnessMax)));
    m_automatic->setChecked(m_settings.automaticBrightness());

    connect(m_sleep, &QSlider::valueChanged, this, &CQXKeyboardPropertiesDlg::sleepMoved);
    connect(m_brightness, &QSlider::valueChanged, this,
            &CQXKeyboardPropertiesDlg::brightnessMoved);
    connect(m_automatic, &QCheckBox::toggled, this, &CQXKeyboardPropertiesDlg::automaticToggled);
    connect(m_close, &QPushButton::clicked, this, &QDialog::accept);
}

CQXKeyboardPropertiesDlg::~CQXKeyboardPropertiesDlg() = default;

int CQXKeyboardPropertiesDlg::secondsFromPosition(int position) {
    const int p = std::clamp(position, 0, kSleepPositions);
    const size_t i = static_cast<size_t>(p / 10);
    const int f = p % 10;
    // The last position is the last breakpoint itself: there is nothing beyond it.
    if (i + 2 >= kBreakpoints.size())
        return std::min(kBreakpoints[i + 1], static_cast<int>(kNever));
    const int seconds =
        kBreakpoints[i + 1] + (kBreakpoints[i + 2] - kBreakpoints[i + 1]) * f / 10;
    return std::min(seconds, static_cast<int>(kNever));
}

int CQXKeyboardPropertiesDlg::positionFromSeconds(int seconds) {
    for (size_t i = 1; i + 1 < kBreakpoints.size(); ++i)
        if (seconds < kBreakpoints[i + 1])
            return (seconds - kBreakpoints[i]) * 10 / (kBreakpoints[i + 1] - kBreakpoints[i]) +
                   static_cast<int>(i - 1) * 10;
    return static_cast<int>(kNever);
}

QString CQXKeyboardPropertiesDlg::readOut(int seconds) {
    if (seconds == static_cast<int>(kNever))
        return QStringLiteral("Never");
    if (seconds == 0)
        return QStringLiteral("Immediately");
    QString text;
    if (seconds / 3600 > 0)
        text += QString::asprintf("%d hr ", seconds / 3600);
    if ((seconds / 60) % 60 > 0)
        text += QString::asprintf("%d min ", (seconds / 60) % 60);
    if (seconds % 60 > 0)
        text += QString::asprintf("%d sec ", seconds % 60);
    return text;
}

void CQXKeyboardPropertiesDlg::sleepMoved(int position) {
    const int seconds = secondsFromPosition(position);
    m_readOut->setText(readOut(seconds));
    m_readOut->show();
    if (static_cast<unsigned>(seconds) != m_settings.sleepDelay())
        m_settings.setSleepDelay(static_cast<unsigned>(seconds));
}

void CQXKeyboardPropertiesDlg::brightnessMoved(int position) {
    const unsigned level = static_cast<unsigned>(std::clamp(position, 0, kBrightnessMax));
    if (level != m_settings.brightness())
        m_settings.setBrightness(level, m_settings.automaticBrightness());
}

void CQXKeyboardPropertiesDlg::automaticToggled(bool automatic) {
    if (automatic != m_settings.automaticBrightness())
        m_settings.setBrightness(m_settings.brightness(), automatic);
}
