#pragma once

#include "model/QXCondition.h"
#include "model/QXKeyPluginInstance.h"
#include "pluginhost/QXPluginEntry.h"
#include "pluginhost/QXPluginInterfaces.h"
#include "pluginhost/QXPluginLiveSet.h"

#include <atomic>
#include <string>
#include <vector>

class QXPluginRegistry;

// What differs between the three kinds of host object: the model class the layer model
// holds them as, the plug-in instance interface, the factory and the live set. Each is
// also the base that carries the model's data (identifiers, key, properties, holder).
template <class I> struct context_traits;

template <> struct context_traits<IQXViewPluginContext> : QXKeyViewInstance {
    using Instance = IQXViewPluginInstance;
    static QXCreateViewFunction factory(const QXPluginEntry& e) { return e.createView(); }
    static QXPluginLiveSet& liveSet() { return QXPluginLiveSet::views(); }

protected:
    // The reference the holding layer keeps to this object; empty when none holds it.
    QXPluginLiveSet::Object heldReference() const;
};

template <> struct context_traits<IQXActionPluginContext> : QXKeyActionInstance {
    using Instance = IQXActionPluginInstance;
    static QXCreateActionFunction factory(const QXPluginEntry& e) { return e.createAction(); }
    static QXPluginLiveSet& liveSet() { return QXPluginLiveSet::actions(); }

protected:
    QXPluginLiveSet::Object heldReference() const;
};

template <> struct context_traits<IQXConditionPluginContext> : QXCondition, QXKeyPluginInstance {
    using Instance = IQXConditionPluginInstance;
    static QXCreateConditionFunction factory(const QXPluginEntry& e) { return e.createCondition(); }
    static QXPluginLiveSet& liveSet() { return QXPluginLiveSet::conditions(); }

protected:
    context_traits() : QXCondition(u"plugin") {}
    QXPluginLiveSet::Object heldReference() const;
};

// The host side of one plug-in instance, and at the same time the context the plug-in
// talks to. The plug-in instance is created on attach() and handed back with Release;
// the context stays valid until the instance reported InstanceDestroyed (the live set
// holds it), even when the layer model has let go of it meanwhile.
//
// Threads: attach, the plug-in calls it makes and everything else not marked otherwise
// run on the GUI thread. The context operations below may come from any thread.
//
// The model's base comes first, so the complete object and its model base share one
// address: message parameters that carry the object may be read as either type.
template <class I> class QXPluginContextImpl : public context_traits<I>, public I {
public:
    using Traits = context_traits<I>;
    using Instance = typename Traits::Instance;

    // ---- the context operations (any thread) ----
    // Properties live in the assignment's "PluginProperties" dictionary; see
    // QXKeyPluginInstance::property().
    void SetProperty(const char16_t* name, const char16_t* value) override;
    QXBool GetProperty(const char16_t* name, char16_t* out) override;
    void GetLayerID(char16_t* out) override;
    void GetLayerName(char16_t* out) override;
    // The instance's destructor ends here; the object may be gone when this returns.
    void InstanceDestroyed() override;

    // The plug-in instance; null before attach, after detach and when none could be made.
    Instance* pluginInstance() const { return m_instance.load(); }
    // The registry's entry for the plug-in identifier, once looked up.
    const QXPluginEntry::Ptr& pluginEntry() const { return m_entry; }
    void setPluginEntry(QXPluginEntry::Ptr entry) { m_entry = std::move(entry); }

    // Creates the plug-in instance unless there is one: enters the live set, looks the
    // plug-in up, loads its library and calls the factory. Needs a holder (a layer or
    // item keeping this object), since the live set must share its reference. True
    // when there is an instance afterwards.
    bool attach();

    // Files dropped on the key's properties, in drop order. The instance's drop target
    // is asked to accept them all, then gets them one by one until it asks for no more.
    // False when there is no instance or target, or it refused.
    bool dropFiles(const std::vector<std::u16string>& paths);

protected:
    explicit QXPluginContextImpl(QXPluginRegistry& registry) : m_registry(&registry) {}

    // Hands the instance back to the plug-in (Release) and forgets it.
    void releaseInstance();
    // The object's key in its live set, and the pointer 2037 carries for a view.
    const void* liveKey() const { return dynamic_cast<const void*>(this); }

private:
    QXPluginRegistry* m_registry;
    QXPluginEntry::Ptr m_entry;
    std::atomic<Instance*> m_instance{nullptr};
};

// Adds the plug-in's property page.
template <class I> class QXGUIPluginContextImpl : public QXPluginContextImpl<I> {
public:
    // Creates the instance's page as a child of parent (a QWidget*, passed through
    // opaquely) unless it has one; the page window, or null when the instance has no
    // page. The page belongs to the plug-in.
    QXWindowHandle showPropertyPage(QXWindowHandle parent);
    // Lets the plug-in destroy its page.
    void hidePropertyPage();
    QXWindowHandle propertyPage() const { return m_page; }

protected:
    using QXPluginContextImpl<I>::QXPluginContextImpl;

private:
    QXWindowHandle m_page = nullptr;
};

extern template class QXPluginContextImpl<IQXViewPluginContext>;
extern template class QXPluginContextImpl<IQXActionPluginContext>;
extern template class QXPluginContextImpl<IQXConditionPluginContext>;
extern template class QXGUIPluginContextImpl<IQXViewPluginContext>;
extern template class QXGUIPluginContextImpl<IQXActionPluginContext>;
extern template class QXGUIPluginContextImpl<IQXConditionPluginContext>;
