#pragma once

#include "device/CHIDReader.h"
#include "device/CTesseraQuadrix.h"
#include "platform/QXSingleton.h"

#include <atomic>
#include <memory>

// The keyboard as the program sees it: finds it, connects to it, follows it as devices
// come and go, and turns its key events into messages:
//   2040 (0 connected, 1 disconnected), 2045 (key index, 1 down / 0 up), 2025 (the
//   keyboard's own modifier mask, 0) when keys programmed as modifiers change it.
// Binds WM_DEVICECHANGE (discovery saw a change) and WM_ENDSESSION (the session ends:
// the keyboard gets its own codes back and its displays go dark).
// Created and used on the GUI thread; key events arrive on the device thread and the
// signalling reader's thread and reach the program by sending messages.
class QXDevice : public QXHIDDevice,
                 public CTesseraQuadrix::IEventHandler,
                 public CTesseraQuadrix,
                 public singleton<QXDevice> {
public:
    enum QXDeviceState : unsigned { Connected = 0, Disconnected = 1 };

    // Real and virtual keyboards.
    QXDevice();
    explicit QXDevice(std::unique_ptr<QXDiscoveryBackend> backend);
    ~QXDevice() override;

    // Connects to the first usable keyboard found; true when one is connected now.
    bool discoverAndConnect();
    // WM_DEVICECHANGE: 1 after connecting, 2 after a disconnection, 0 otherwise.
    int deviceChange();
    // WM_ENDSESSION.
    void endSession();

    // The modifier mask the keyboard's own keys hold down (keyboards with key reports).
    uint32_t keyboardModifiers() const { return m_mask; }
    // Works the mask out again from the keys held and the code table (after the table
    // changed); sends 2025 when it changed.
    void modifiersMayHaveChanged();

    // CTesseraQuadrix::IEventHandler
    void connected() override;
    void disconnected() override;
    void keyDown(size_t keyIndex) override;
    void keyUp(size_t keyIndex) override;

protected:
    void signalledKey(size_t keyIndex) override;

private:
    void onDeviceChange();
    // The keyboard's own code table back and every display off.
    void stageRelease();

    std::unique_ptr<QXDiscoveryBackend> m_backend;
    std::atomic<uint32_t> m_mask{0};
};
