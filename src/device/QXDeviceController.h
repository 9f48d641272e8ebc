#pragma once

#include "device/QXDevice.h"
#include "model/QXLayersController.h"
#include "platform/QXSingleton.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>

class QXKeyViewInstance;

// Decides what the connected keyboard shows and sends: pushes the picture stack of the
// layers to it, updates single keys and live plug-in pictures, sends brightness and
// sleep settings, and keeps the keyboard's sleep timer in step with the user.
//
// Binds 2035, 2036 and 2039 (push all keys), 2040 (settings and a push on connection),
// 2037 (a view's new picture) and 2043 (one key); 2025, 2026 and 2045, the key events of
// the hook and of the keyboard, wake a sleeping keyboard at once. GUI thread only (the
// dispatch brings the device thread's key messages there).
class QXDeviceController : public singleton<QXDeviceController> {
public:
    static constexpr unsigned kDefaultBrightness = 70;
    static constexpr unsigned kDefaultSleepDelay = 420;

    // idleSeconds: whole seconds since the user's last input, or nothing when that
    // cannot be told.
    QXDeviceController(QXDevice& device, QXLayersController& layers,
                       std::function<std::optional<unsigned>()> idleSeconds);
    ~QXDeviceController();
    QXDeviceController(const QXDeviceController&) = delete;
    QXDeviceController& operator=(const QXDeviceController&) = delete;

    unsigned brightness() const { return m_brightness; }
    bool automaticBrightness() const { return m_automatic; }
    unsigned sleepDelay() const { return m_sleepDelay; }
    // The editor's keyboard properties; sent at once when a keyboard is connected.
    void setBrightness(unsigned level, bool automatic);
    void setSleepDelay(unsigned seconds);

    // The root's "Device" dictionary ("Brightness", "AutoBrightness", "SleepModeDelay").
    void loadFrom(const QXPropertyNode& root);
    void saveTo(QXPropertyNode& root) const;

    void pushAllKeys();
    void updateKey(unsigned keyIndex);
    void deviceState(unsigned state);
    void viewImageChanged(QXKeyViewInstance* view, unsigned keyIndex);

    // One step of the sleep keeper. Returns when it wants the next step: nothing while
    // no keyboard is connected (the next connection starts it again).
    std::optional<std::chrono::milliseconds> sleepStep();
    bool asleep() const { return m_asleep; }
    // A key went down or up, seen by the hook or reported by the keyboard: the user is
    // here. A sleeping keyboard is woken through the wake-up below.
    void keyActivity();
    // How a key event wakes the keyboard: the sleep keeper's step runs at once unless
    // replaced. The program replaces it with its sleep timer firing at once, so the step
    // runs after the message that woke it (the keyboard's own key messages hold up the
    // device thread, which must be free to write the two sleep commands one by one).
    void setWakeUp(std::function<void()> wakeUp) { m_wakeUp = std::move(wakeUp); }
    // How the GUI thread pauses 42 ms between two commands (tests count instead).
    void setPause(std::function<void()> pause) { m_pause = std::move(pause); }

private:
    // Stages one key's picture and code from the winning button; the code goes into the
    // working table. True when something was staged.
    bool stageKey(size_t keyIndex, QXButton* button, bool& tableChanged);
    void sendSettings();
    void rearmSleep();

    QXDevice& m_device;
    QXLayersController& m_layers;
    std::function<std::optional<unsigned>()> m_idleSeconds;
    std::function<void()> m_pause;
    std::function<void()> m_wakeUp;
    // The last key event, in steady-clock ticks; key presses the keyboard keeps to itself
    // (keys with actions) are not user input to the system's idle time.
    std::atomic<std::chrono::steady_clock::rep> m_lastKey{0};
    std::atomic<bool> m_lastKeySeen{false};
    unsigned m_brightness = kDefaultBrightness;
    bool m_automatic = false;
    unsigned m_sleepDelay = kDefaultSleepDelay;
    std::atomic<bool> m_asleep{false};
};

// A key picture as the keyboard needs it: the live view's last published picture when
// the button has a view, else its stored picture, 48 x 48 at 24 bits (bottom-up BGR).
// False when there is none of that size.
bool keyboardPicture(const QXButton& button, std::array<uint8_t, 48 * 48 * 3>& pixels);

// The code a key sends while this button wins it and has no action: the button's own
// code, else the key's; 0 when neither has one (the key then sends nothing).
uint8_t keyboardCode(const QXButton* button, size_t keyIndex);
