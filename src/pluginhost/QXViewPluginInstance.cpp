#include "pluginhost/QXViewPluginInstance.h"

#include "model/QXKeyTable.h"
#include "model/QXLayersItem.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"
#include "pluginhost/QXActionPluginInstance.h"
#include "pluginhost/QXPluginGuard.h"

#include <cstring>

QXViewPluginInstance::QXViewPluginInstance(QXPluginRegistry& registry)
    : QXGUIPluginContextImpl(registry) {}

QXViewPluginInstance::~QXViewPluginInstance() = default;

// ---- view context --------------------------------------------------------------------

IQXActionPluginInstance* QXViewPluginInstance::GetActionInstance() {
    const auto* layer = dynamic_cast<const QXLayer*>(holder());
    const QXButton* button = layer && keyIndex() >= 0 ? layer->getButton(keyIndex()) : nullptr;
    if (!button)
        return nullptr;
    auto* action = dynamic_cast<QXActionPluginInstance*>(button->action.get());
    if (!action || action->pluginId() != pluginId())
        return nullptr;
    return action->pluginInstance();
}

int32_t QXViewPluginInstance::GetKeyRow() {
    const int key = keyIndex();
    return key >= 0 && size_t(key) < QXKeyTable::keyCount() ? QXKeyTable::keyRow(key) : 0;
}

int32_t QXViewPluginInstance::GetKeyPlace() {
    const int key = keyIndex();
    return key >= 0 && size_t(key) < QXKeyTable::keyCount() ? QXKeyTable::keyPlace(key) : 0;
}

int32_t QXViewPluginInstance::GetKeyX() {
    const int key = keyIndex();
    if (key < 0 || size_t(key) >= QXKeyTable::keyCount())
        return 0;
    return static_cast<uint16_t>(QXKeyTable::geometry(key).secondX);
}

int32_t QXViewPluginInstance::GetKeyY() {
    const int key = keyIndex();
    if (key < 0 || size_t(key) >= QXKeyTable::keyCount())
        return 0;
    return static_cast<uint16_t>(QXKeyTable::geometry(key).secondY);
}

QXDrawingSurface* QXViewPluginInstance::GetDC() {
    std::lock_guard lock(m_mutex);
    return m_surface ? &m_surface->handle : nullptr;
}

void QXViewPluginInstance::UpdateImage() {
    {
        std::lock_guard lock(m_mutex);
        if (!m_buffer || !m_surface)
            return;
        // The surface is drawn by the thread calling here, so it is whole now.
        *m_buffer = m_surface->bits;
    }
    // The lock is gone before the send: the GUI thread takes it to read the picture.
    QXDispatch::current().Send(QXM_VIEW_IMAGE_CHANGED, reinterpret_cast<qxwin::WPARAM>(this),
                               keyIndex());
}

// ---- layer model ---------------------------------------------------------------------

void QXViewPluginInstance::show() {
    IQXViewPluginInstance* instance = pluginInstance();
    if (!instance)
        return;
    {
        std::lock_guard lock(m_mutex);
        if (m_buffer)
            return;
        if (!m_surface) {
            m_surface = std::make_unique<Surface>();
            m_surface->handle = QXDrawingSurface{m_surface->bits.data(), kSize, kSize, kStride};
        }
        m_buffer = std::make_unique<Pixels>();
    }
    guardedCall([&] { instance->Activate(); });
}

void QXViewPluginInstance::hide() {
    {
        std::lock_guard lock(m_mutex);
        if (!m_buffer)
            return;
        m_buffer.reset();
    }
    IQXViewPluginInstance* instance = pluginInstance();
    if (!instance)
        return;
    // The view stops its drawing thread here, which may be sending 2037 right now.
    QXDispatch::GuiWait waiting;
    guardedCall([&] { instance->Deactivate(); });
}

bool QXViewPluginInstance::isShown() const {
    std::lock_guard lock(m_mutex);
    return m_buffer != nullptr;
}

void QXViewPluginInstance::setHolder(const QXLayersItem* holder) {
    QXGUIPluginContextImpl::setHolder(holder);
    if (!holder)
        detach();
}

void QXViewPluginInstance::detach() {
    hide();
    hidePropertyPage();
    releaseInstance();
}

bool QXViewPluginInstance::copyImage(std::span<unsigned char, kImageBytes> out) const {
    std::lock_guard lock(m_mutex);
    if (!m_buffer)
        return false;
    std::memcpy(out.data(), m_buffer->data(), kImageBytes);
    return true;
}

bool QXViewPluginInstance::isLive(const void* view) {
    return QXPluginLiveSet::views().contains(view);
}

QXPtr<QXViewPluginInstance> QXViewPluginInstance::live(const void* view) {
    return QXPluginLiveSet::views().find(view).dynamicCast<QXViewPluginInstance>();
}
