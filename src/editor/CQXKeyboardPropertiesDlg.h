#pragma once

#include "controls/CTesDialog.h"

#include <QString>

class CTesSliderCtrl;
class QCheckBox;
class QLabel;
class QPushButton;

// The keyboard's settings as the properties dialog edits them. The program gives the
// device controller behind it; every setter sends to the keyboard at once.
class QXKeyboardSettings {
public:
    virtual ~QXKeyboardSettings() = default;
    virtual unsigned sleepDelay() const = 0;
    virtual unsigned brightness() const = 0;
    virtual bool automaticBrightness() const = 0;
    virtual void setSleepDelay(unsigned seconds) = 0;
    virtual void setBrightness(unsigned level, bool automatic) = 0;
};

// The modal "Properties" dialog: the keyboard's sleep timeout, its brightness and
// automatic brightness. There is no OK button; every change goes to the settings as it is
// made, and a value that does not change is not sent again. Open it with the main window
// as parent:
//     CQXKeyboardPropertiesDlg dialog(settings, mainWindow);
//     dialog.exec();
//
// Child widgets by object name: "sleepTimeout" and "brightness" (the sliders),
// "sleepReadOut", "autoBrightness", "close", and the captions and scales "sleepCaption",
// "sleepScale", "brightnessCaption", "brightnessScale". GUI thread only.
class CQXKeyboardPropertiesDlg : public CTesDialog {
    Q_OBJECT
public:
    static constexpr unsigned kNever = 9999;
    static constexpr int kSleepPositions = 50;
    static constexpr int kBrightnessMax = 100;

    CQXKeyboardPropertiesDlg(QXKeyboardSettings& settings, QWidget* parent = nullptr);
    ~CQXKeyboardPropertiesDlg() override;

    // The sleep slider's position as seconds: linear between the breakpoints 30 s, 1 min,
    // 5 min, 30 min, 60 min and never, ten positions apart, at most kNever. Positions
    // outside 0 to 50 count as the nearest end.
    static int secondsFromPosition(int position);
    // Where the sleep slider opens for a delay. Under 30 s the result is negative and
    // kNever or more gives 9999; the slider clamps both to its ends.
    static int positionFromSeconds(int seconds);
    // "Never", "Immediately" or hours, minutes and seconds, each piece with a blank after
    // it and left out when zero: "1 hr 53 min 19 sec ".
    static QString readOut(int seconds);

private:
    void sleepMoved(int position);
    void brightnessMoved(int position);
    void automaticToggled(bool automatic);

    QXKeyboardSettings& m_settings;
    CTesSliderCtrl* m_sleep = nullptr;
    CTesSliderCtrl* m_brightness = nullptr;
    QLabel* m_readOut = nullptr;
    QCheckBox* m_automatic = nullptr;
    QPushButton* m_close = nullptr;
};
