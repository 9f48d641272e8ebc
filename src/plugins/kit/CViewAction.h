#pragma once

#include "kit/CQXPluginInstance.h"

// An action that works the view on the same key: KeyDown calls M on it when that view is a
// T (the view class of the same library the action belongs to); KeyUp does nothing.
// Example: a video view's mute toggle, CViewAction<CVideoView, &CVideoView::toggleMute>.
//
// Threads: KeyDown and KeyUp come from the program's GUI thread, so M runs there too.
template <typename T, void (T::*M)()>
class CViewAction : public CQXPluginInstance<IQXActionPluginInstance> {
public:
    explicit CViewAction(IQXActionPluginContext* context)
        : CQXPluginInstance<IQXActionPluginInstance>(context) {}

    void KeyDown() override {
        if (T* view = pairedView())
            (view->*M)();
    }
    void KeyUp() override {}

protected:
    // The program pairs views and actions by plug-in, not by class, so the key's view may
    // be another view class of this library: then there is nothing to do.
    T* pairedView() const { return dynamic_cast<T*>(context()->GetViewInstance()); }
};
