#include "pluginhost/QXPluginContextImpl.h"

#include "model/QXLayersItem.h"
#include "platform/QXDispatch.h"
#include "pluginhost/QXPluginGuard.h"
#include "pluginhost/QXPluginRegistry.h"

#include <algorithm>

namespace {

// Text out across the boundary: emptied first, then at most one buffer's worth.
void copyOut(char16_t* out, const std::u16string& text) {
    out[0] = 0;
    const size_t length = std::min(text.size(), size_t(kQXTextCapacity - 1));
    std::copy_n(text.data(), length, out);
    out[length] = 0;
}

const QXButton* heldButton(const QXLayersItem* holder, int keyIndex) {
    const auto* layer = dynamic_cast<const QXLayer*>(holder);
    return layer && keyIndex >= 0 ? layer->getButton(static_cast<size_t>(keyIndex)) : nullptr;
}

} // namespace

// ---- references held by the layer model ----------------------------------------------

QXPluginLiveSet::Object context_traits<IQXViewPluginContext>::heldReference() const {
    const QXButton* button = heldButton(holder(), keyIndex());
    if (button && button->view.get() == this)
        return button->view;
    return {};
}

QXPluginLiveSet::Object context_traits<IQXActionPluginContext>::heldReference() const {
    const QXButton* button = heldButton(holder(), keyIndex());
    if (button && button->action.get() == this)
        return button->action;
    return {};
}

QXPluginLiveSet::Object context_traits<IQXConditionPluginContext>::heldReference() const {
    if (!holder())
        return {};
    for (const QXPtr<QXCondition>& condition : holder()->conditions())
        if (condition.get() == static_cast<const QXCondition*>(this))
            return condition.dynamicCast<QXKeyPluginInstance>();
    return {};
}

// ---- context operations --------------------------------------------------------------

template <class I>
void QXPluginContextImpl<I>::SetProperty(const char16_t* name, const char16_t* value) {
    if (!name || !value)
        return;
    this->setProperty(name, value);
}

template <class I> QXBool QXPluginContextImpl<I>::GetProperty(const char16_t* name, char16_t* out) {
    if (!name || !out)
        return 0;
    out[0] = 0;
    std::optional<std::u16string> value = this->property(name);
    if (!value)
        return 0;
    copyOut(out, *value);
    return 1;
}

template <class I> void QXPluginContextImpl<I>::GetLayerID(char16_t* out) {
    if (out)
        copyOut(out, this->holderId());
}

template <class I> void QXPluginContextImpl<I>::GetLayerName(char16_t* out) {
    if (out)
        copyOut(out, this->holderName());
}

template <class I> void QXPluginContextImpl<I>::InstanceDestroyed() {
    QXPluginLiveSet::Object last = Traits::liveSet().instanceDestroyed(liveKey());
    // Dropping `last` may destroy this object: nothing may follow.
}

// ---- life of the plug-in instance ----------------------------------------------------

template <class I> bool QXPluginContextImpl<I>::attach() {
    // The set shares the model's reference, so the object survives the model letting
    // go of it for as long as the plug-in may still call it.
    QXPluginLiveSet::Object self = this->heldReference();
    if (!self)
        return pluginInstance() != nullptr;
    Traits::liveSet().insert(liveKey(), self);
    if (pluginInstance())
        return true;
    if (!m_entry)
        m_entry = m_registry->find(this->pluginId());
    if (!m_entry)
        return false;
    m_entry->ensureLoaded();
    const auto factory = Traits::factory(*m_entry);
    if (!factory)
        return false;
    const std::u16string id = this->subPluginId();
    Instance* made =
        guardedCall<Instance*>(nullptr, [&] { return factory(id.c_str(), static_cast<I*>(this)); });
    if (!made)
        return false;
    Traits::liveSet().instanceCreated(liveKey(), self);
    m_instance = made;
    return true;
}

template <class I> void QXPluginContextImpl<I>::releaseInstance() {
    Instance* instance = m_instance.exchange(nullptr);
    if (!instance)
        return;
    // A plug-in may wait in Release for a thread of its own that is sending to the GUI
    // thread right now; that send must not wait for us.
    QXDispatch::GuiWait waiting;
    guardedCall([&] { instance->Release(); });
}

template <class I>
bool QXPluginContextImpl<I>::dropFiles(const std::vector<std::u16string>& paths) {
    Instance* instance = pluginInstance();
    if (!instance)
        return false;
    IQXPluginDropTarget* target =
        guardedCall<IQXPluginDropTarget*>(nullptr, [&] { return instance->GetDropTarget(); });
    if (!target)
        return false;
    const auto count = static_cast<int32_t>(paths.size());
    if (!guardedCall<QXBool>(0, [&] { return target->AcceptFiles(count); }))
        return false;
    for (const std::u16string& path : paths)
        if (!guardedCall<QXBool>(0, [&] { return target->DropFile(path.c_str()); }))
            break;
    return true;
}

// ---- property page -------------------------------------------------------------------

template <class I>
QXWindowHandle QXGUIPluginContextImpl<I>::showPropertyPage(QXWindowHandle parent) {
    if (const QXPluginEntry::Ptr& entry = this->pluginEntry())
        entry->ensureLoaded();
    auto* instance = this->pluginInstance();
    if (!instance || m_page)
        return m_page;
    IQXPluginGUIController* controller =
        guardedCall<IQXPluginGUIController*>(nullptr, [&] { return instance->GetGUIController(); });
    if (controller)
        m_page =
            guardedCall<QXWindowHandle>(nullptr, [&] { return controller->CreateGUI(parent); });
    return m_page;
}

template <class I> void QXGUIPluginContextImpl<I>::hidePropertyPage() {
    if (!m_page)
        return;
    m_page = nullptr;
    auto* instance = this->pluginInstance();
    if (!instance)
        return;
    IQXPluginGUIController* controller =
        guardedCall<IQXPluginGUIController*>(nullptr, [&] { return instance->GetGUIController(); });
    if (controller)
        guardedCall([&] { controller->DestroyGUI(); });
}

template class QXPluginContextImpl<IQXViewPluginContext>;
template class QXPluginContextImpl<IQXActionPluginContext>;
template class QXPluginContextImpl<IQXConditionPluginContext>;
template class QXGUIPluginContextImpl<IQXViewPluginContext>;
template class QXGUIPluginContextImpl<IQXActionPluginContext>;
template class QXGUIPluginContextImpl<IQXConditionPluginContext>;
