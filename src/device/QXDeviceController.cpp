#include "device/QXDeviceController.h"

#include "model/QXKeyTable.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>

namespace {

using Pixels = std::array<uint8_t, 48 * 48 * 3>;

QXBitmapView viewOf(const Pixels& pixels) {
    return {pixels.data(), 48, 48, 24, 48 * 3};
}

unsigned readUnsigned(const QXPropertyNode& node, std::u16string_view name, unsigned fallback) {
    QXPropertyNode::Ptr child = node.findChild(name);
    if (!child)
        return fallback;
    unsigned value = 0;
    for (char16_t c : child->value()) {
        if (c < u'0' || c > u'9')
            break;
        value = value * 10 + static_cast<unsigned>(c - u'0');
        if (value > 1000000)
            break;
    }
    return value;
}

std::u16string decimal(unsigned value) {
    const std::string text = std::to_string(value);
    return std::u16string(text.begin(), text.end());
}

// Seconds of the final stretch before the keyboard would sleep in which the program
// keeps its timer going.
constexpr unsigned kWakeWindow = 15;

} // namespace

bool keyboardPicture(const QXButton& button, Pixels& pixels) {
    if (button.view)
        return button.view->copyImage(pixels);
    if (!button.image)
        return false;
    const QXImage* picture = button.image.get();
    QXImage fromFile;
    if (!picture->isLoaded()) {
        // A picture that is not shown (the Caps Lock layer of a dump) is read from its file,
        // leaving the button as it was.
        if (picture->sourcePath().empty() || !fromFile.loadFile(picture->sourcePath()))
            return false;
        fromFile.ensureKeySize();
        picture = &fromFile;
    }
    if (picture->getWidth() != 48 || picture->getHeight() != 48)
        return false;
    fipImage copy(*picture);
    if (!QXImage::to24Bits(copy))
        return false;
    for (unsigned y = 0; y < 48; ++y)
        std::memcpy(pixels.data() + y * 144, copy.getScanLine(y), 144);
    return true;
}

uint8_t keyboardCode(const QXButton* button, size_t keyIndex) {
    if (button && (button->actionCode & 0xFF))
        return static_cast<uint8_t>(button->actionCode & 0xFF);
    return keyIndex < QXKeyTable::keyCount() ? QXKeyTable::key(keyIndex).actionCode : 0;
}

QXDeviceController::QXDeviceController(QXDevice& device, QXLayersController& layers,
                                       std::function<std::optional<unsigned>()> idleSeconds)
    : m_device(device), m_layers(layers), m_idleSeconds(std::move(idleSeconds)),
      m_pause([] { std::this_thread::sleep_for(std::chrono::milliseconds(42)); }) {
    QXDispatch& dispatch = QXDispatch::current();
    for (uint32_t message : {QXM_LAYERS_CHANGED, QXM_LAYER_STATE_CHANGED, QXM_KEY_EDITED})
        dispatch.RegisterHandler(message, this, &QXDeviceController::pushAllKeys);
    dispatch.RegisterHandler(QXM_DEVICE_STATE, this, &QXDeviceController::deviceState);
    dispatch.RegisterHandler(QXM_VIEW_IMAGE_CHANGED, this, &QXDeviceController::viewImageChanged);
    dispatch.RegisterHandler(QXM_KEY_CHANGED, this, &QXDeviceController::updateKey);
    for (uint32_t message : {QXM_HOOK_MODIFIERS, QXM_HOOK_KEY, QXM_DEVICE_KEY})
        dispatch.RegisterHandler(message, this, &QXDeviceController::keyActivity);
}

QXDeviceController::~QXDeviceController() {
    QXDispatch::current().UnregisterObject(this);
}

void QXDeviceController::loadFrom(const QXPropertyNode& root) {
    QXPropertyNode::Ptr device = root.findChild(u"Device");
    if (!device)
        return; // the built-in defaults stay
    m_brightness = readUnsigned(*device, u"Brightness", 0);
    m_automatic = device->childValue(u"AutoBrightness") == u"true";
    m_sleepDelay = readUnsigned(*device, u"SleepModeDelay", 0);
}

void QXDeviceController::saveTo(QXPropertyNode& root) const {
    QXPropertyNode::Ptr device = root.addChild(u"Device");
    device->addChild(u"Brightness", decimal(m_brightness));
    device->addChild(u"AutoBrightness", m_automatic ? u"true" : u"false");
    device->addChild(u"SleepModeDelay", decimal(m_sleepDelay));
}

void QXDeviceController::setBrightness(unsigned level, bool automatic) {
    m_brightness = level;
    m_automatic = automatic;
    if (m_device.isConnected() && m_device.files().stageBrightness(level, automatic))
        m_device.signalWrite();
}

void QXDeviceController::setSleepDelay(unsigned seconds) {
    m_sleepDelay = seconds;
    if (m_device.isConnected() && m_device.files().stageSleepDelay(seconds))
        m_device.signalWrite();
}

void QXDeviceController::sendSettings() {
    if (m_device.files().stageSleepDelay(m_sleepDelay))
        m_device.signalWrite();
    m_pause();
    if (m_device.files().stageBrightness(m_brightness, m_automatic))
        m_device.signalWrite();
}

void QXDeviceController::deviceState(unsigned state) {
    if (state != QXDevice::Connected || !m_device.isConnected())
        return;
    sendSettings();
    pushAllKeys();
}

bool QXDeviceController::stageKey(size_t keyIndex, QXButton* button, bool& tableChanged) {
    QXDiskFiles& files = m_device.files();
    bool staged = false;
    Pixels pixels;
    if (keyboardPicture(*button, pixels))
        staged = files.stageImage(keyIndex, viewOf(pixels));
    auto& table = files.workingCodeTable();
    std::array<uint8_t, QXDiskFiles::kEntryBytes> before;
    const size_t at = (QXKeyTable::key(keyIndex).codeSlot - 1) * QXDiskFiles::kEntryBytes;
    std::memcpy(before.data(), table.data() + at, before.size());
    if (!button->action) {
        if (const uint8_t code = keyboardCode(button, keyIndex))
            QXDiskFiles::setPlainEntry(table, keyIndex, code);
    } else if (!m_device.hasKeyReports()) {
        QXDiskFiles::setSignallingEntry(table, keyIndex);
    } else {
        // The action runs from the key report; the key sends nothing to the computer.
        QXDiskFiles::setSilentEntry(table, keyIndex);
    }
    tableChanged = tableChanged || std::memcmp(before.data(), table.data() + at, before.size()) != 0;
    return staged;
}

void QXDeviceController::pushAllKeys() {
    if (!m_device.isConnected())
        return;
    QXCompositeLayer stack = m_layers.pictureStack();
    bool changed = false;
    bool tableStaged = false;
    {
        std::lock_guard lock(m_device.codeTableLock());
        m_device.files().workingCodeTable().fill(0xFF);
        bool ignored = false;
        for (size_t key = 0; key < QXKeyTable::keyCount(); ++key)
            if (QXButton* button = stack.getButton(key))
                changed = stageKey(key, button, ignored) || changed;
        tableStaged = m_device.files().stageCodeTable();
    }
    if (tableStaged)
        m_device.modifiersMayHaveChanged();
    if (changed || tableStaged)
        m_device.signalWrite();
}

void QXDeviceController::updateKey(unsigned keyIndex) {
    if (!m_device.isConnected() || keyIndex >= QXKeyTable::keyCount())
        return;
    QXButton* button = m_layers.pictureStack().getButton(keyIndex);
    if (!button)
        return;
    bool tableChanged = false;
    bool staged;
    bool tableStaged = false;
    {
        std::lock_guard lock(m_device.codeTableLock());
        staged = stageKey(keyIndex, button, tableChanged);
        if (tableChanged)
            tableStaged = m_device.files().stageCodeTable();
    }
    m_device.modifiersMayHaveChanged();
    if (staged || tableStaged)
        m_device.signalWrite();
}

void QXDeviceController::viewImageChanged(QXKeyViewInstance* view, unsigned keyIndex) {
    if (!m_device.isConnected() || !view || keyIndex >= QXKeyTable::keyCount())
        return;
    // The message may arrive after the view went (a send that stopped waiting): take the
    // picture only from the view that wins the key now.
    QXButton* button = m_layers.pictureStack().getButton(keyIndex);
    if (!button || button->view.get() != view)
        return;
    Pixels pixels;
    if (view->copyImage(pixels) && m_device.files().stageImage(keyIndex, viewOf(pixels)))
        m_device.signalWrite();
}

void QXDeviceController::rearmSleep() {
    QXDiskFiles& files = m_device.files();
    if (files.stageSleepDelay(m_sleepDelay + 1))
        m_device.signalWrite();
    m_pause();
    if (files.stageSleepDelay(m_sleepDelay))
        m_device.signalWrite();
}

void QXDeviceController::keyActivity() {
    m_lastKey = std::chrono::steady_clock::now().time_since_epoch().count();
    m_lastKeySeen = true;
    if (!m_asleep || !m_device.isConnected())
        return;
    if (m_wakeUp)
        m_wakeUp();
    else
        sleepStep();
}

std::optional<std::chrono::milliseconds> QXDeviceController::sleepStep() {
    using std::chrono::milliseconds;
    using std::chrono::seconds;
    if (!m_device.isConnected())
        return std::nullopt;
    std::optional<unsigned> idle = m_idleSeconds ? m_idleSeconds() : std::nullopt;
    if (idle && m_lastKeySeen) {
        const auto sinceKey = std::chrono::steady_clock::now() -
                              std::chrono::steady_clock::time_point(
                                  std::chrono::steady_clock::duration(m_lastKey.load()));
        idle = std::min<unsigned>(
            *idle, static_cast<unsigned>(std::chrono::duration_cast<seconds>(sinceKey).count()));
    }
    if (!idle)
        return milliseconds(60'000); // nothing to go by (no display): look again rarely
    if (*idle > m_sleepDelay) {
        m_asleep = true;
        // Key events wake the keyboard at once (keyActivity); this slower look is for the
        // pointer, which sends no message of its own.
        return milliseconds(1000);
    }
    if (m_sleepDelay == 0 || m_sleepDelay - *idle < kWakeWindow) {
        rearmSleep();
        m_asleep = false;
        return milliseconds(100);
    }
    if (m_asleep && *idle < kWakeWindow) {
        rearmSleep();
        m_asleep = false;
    }
    if (m_asleep)
        return milliseconds(1000);
    // Nothing to do until the user has been idle long enough to come near the delay.
    return std::max<milliseconds>(milliseconds(100),
                                  seconds(m_sleepDelay - kWakeWindow - *idle));
}
