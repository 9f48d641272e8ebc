#pragma once

#include "pluginhost/QXPluginInterfaces.h"

// The context interface the program hands to each kind of instance.
template <typename I> struct QXContextOf;
template <> struct QXContextOf<IQXViewPluginInstance> { using type = IQXViewPluginContext; };
template <> struct QXContextOf<IQXActionPluginInstance> { using type = IQXActionPluginContext; };
template <> struct QXContextOf<IQXConditionPluginInstance> {
    using type = IQXConditionPluginContext;
};

// The base of every plug-in instance; I is IQXViewPluginInstance, IQXActionPluginInstance or
// IQXConditionPluginInstance.
//
// Keeps the context it was made with (owned by the program, valid until the destructor
// has told it InstanceDestroyed). No property page and no drop target: a class that has
// them derives from IQXPluginGUIController or IQXPluginDropTarget as well and returns that
// base from GetGUIController or GetDropTarget. Release deletes the object, on the calling
// (GUI) thread; classes that must end elsewhere override it.
template <typename I> class CQXPluginInstance : public I {
public:
    using Context = typename QXContextOf<I>::type;

    explicit CQXPluginInstance(Context* context) : m_context(context) {}
    CQXPluginInstance(const CQXPluginInstance&) = delete;
    CQXPluginInstance& operator=(const CQXPluginInstance&) = delete;

    IQXPluginGUIController* GetGUIController() override { return nullptr; }
    IQXPluginDropTarget* GetDropTarget() override { return nullptr; }
    void Release() override { delete this; }

    // The first virtual function after the interface's slots. Runs on whichever thread
    // deletes the instance; telling the context is its last step, as the context may go
    // right after that.
    virtual ~CQXPluginInstance() { m_context->InstanceDestroyed(); }

    // Any thread, for the instance's whole life.
    Context* context() const { return m_context; }

private:
    Context* const m_context;
};
