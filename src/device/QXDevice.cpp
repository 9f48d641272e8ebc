#include "device/QXDevice.h"

#include "model/QXCondition.h"
#include "model/QXKeyTable.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"

QXDevice::QXDevice() : QXDevice(QXDeviceDiscovery::createSystemBackend()) {}

QXDevice::QXDevice(std::unique_ptr<QXDiscoveryBackend> backend) : m_backend(std::move(backend)) {
    setEventHandler(this);
    QXDispatch& dispatch = QXDispatch::current();
    dispatch.RegisterHandler(qxwin::WM_DEVICECHANGE, this, &QXDevice::onDeviceChange);
    dispatch.RegisterHandler(qxwin::WM_ENDSESSION, this, &QXDevice::endSession);
    if (m_backend && m_backend->changeDescriptor() >= 0)
        watchChanges(m_backend->changeDescriptor(),
                     [] { QXDispatch::current().Post(qxwin::WM_DEVICECHANGE, 0, 0); });
}

QXDevice::~QXDevice() {
    QXDispatch::current().UnregisterObject(this);
    watchChanges(-1, nullptr);
    stopReading();
    if (isConnected()) {
        stageRelease();
        stopThread(); // writes what is pending before it stops
        disconnect();
    }
    setEventHandler(nullptr);
}

bool QXDevice::discoverAndConnect() {
    if (isConnected())
        return true;
    if (!m_backend)
        return false;
    for (const QXDeviceCandidate& candidate : QXDeviceDiscovery::classify(m_backend->hubs()))
        if (connect(candidate))
            break;
    if (isConnected() && !hasKeyReports()) {
        // An older keyboard signals keys that carry actions through its keyboard interface.
        startReading(connection().signallingPath);
    }
    return isConnected();
}

void QXDevice::onDeviceChange() {
    deviceChange();
}

int QXDevice::deviceChange() {
    if (m_backend)
        m_backend->drainChanges();
    rearmChanges();
    if (!isConnected())
        return discoverAndConnect() ? 1 : 0;
    // Another device went away, or ours: ours is gone when its volume no longer answers
    // or discovery no longer finds it there.
    bool stillThere = volumeAnswers();
    if (stillThere && m_backend) {
        stillThere = false;
        for (const QXDeviceCandidate& c : QXDeviceDiscovery::classify(m_backend->hubs()))
            stillThere = stillThere || c.volume == connection().volume;
    }
    if (stillThere)
        return 0;
    stopReading();
    disconnect();
    return 2;
}

void QXDevice::stageRelease() {
    {
        std::lock_guard lock(codeTableLock());
        if (files().hasOwnCodeTable()) {
            files().workingCodeTable() = files().ownCodeTable();
            files().stageCodeTable();
        }
    }
    files().stageEnableTable(false);
    signalWrite();
}

void QXDevice::endSession() {
    if (!isConnected())
        return;
    stageRelease();
    stopReading();
    // The session is ending: the final files are written now, not left to the thread.
    stopThread();
    disconnect();
}

void QXDevice::connected() {
    QXDispatch::current().Send(QXM_DEVICE_STATE, Connected, 0);
}

void QXDevice::disconnected() {
    m_mask = 0;
    QXDispatch::current().Send(QXM_DEVICE_STATE, Disconnected, 0);
}

void QXDevice::keyDown(size_t keyIndex) {
    QXDispatch::current().Send(QXM_DEVICE_KEY, keyIndex, 1);
    modifiersMayHaveChanged();
}

void QXDevice::keyUp(size_t keyIndex) {
    QXDispatch::current().Send(QXM_DEVICE_KEY, keyIndex, 0);
    modifiersMayHaveChanged();
}

void QXDevice::signalledKey(size_t keyIndex) {
    QXDispatch::current().Send(QXM_DEVICE_KEY, keyIndex, 1);
    QXDispatch::current().Send(QXM_DEVICE_KEY, keyIndex, 0);
}

// Keys held down that the keyboard sends as modifiers (code-table entries of an ordinary
// key with the codes 0x72-0x79) make up the keyboard's own modifier mask.
void QXDevice::modifiersMayHaveChanged() {
    uint32_t mask = 0;
    if (hasKeyReports()) {
        const auto report = lastReport();
        std::lock_guard lock(codeTableLock());
        const auto& table = files().workingCodeTable();
        for (size_t key = 0; key < QXKeyTable::keyCount(); ++key) {
            if (!(report[1 + key / 8] & (1u << (key % 8))))
                continue;
            const uint8_t* entry = table.data() + (QXKeyTable::key(key).codeSlot - 1) * 64;
            if (entry[0] != 1)
                continue;
            switch (entry[1]) {
            case 0x73: case 0x77: mask |= QXModifier::kShift; break;
            case 0x74: case 0x78: mask |= QXModifier::kAlt; break;
            case 0x75: case 0x79: mask |= QXModifier::kWindows; break;
            case 0x72: case 0x76: mask |= QXModifier::kCtrl; break;
            default: break;
            }
        }
    }
    if (m_mask.exchange(mask) != mask)
        QXDispatch::current().Send(QXM_HOOK_MODIFIERS, mask, 0);
}
