#pragma once

#include "device/QXDeviceController.h"
#include "editor/CQXKeyboardPropertiesDlg.h"

// The keyboard properties dialog's settings over the device controller: the controller
// keeps the values for the profile and sends each change to a connected keyboard.
class QXDeviceKeyboardSettings : public QXKeyboardSettings {
public:
    explicit QXDeviceKeyboardSettings(QXDeviceController& device) : m_device(device) {}

    unsigned sleepDelay() const override { return m_device.sleepDelay(); }
    unsigned brightness() const override { return m_device.brightness(); }
    bool automaticBrightness() const override { return m_device.automaticBrightness(); }
    void setSleepDelay(unsigned seconds) override { m_device.setSleepDelay(seconds); }
    void setBrightness(unsigned level, bool automatic) override {
        m_device.setBrightness(level, automatic);
    }

private:
    QXDeviceController& m_device;
};
