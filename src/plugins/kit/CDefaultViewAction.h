#pragma once

#include "kit/CViewAction.h"

// The action that belongs with view class T: KeyDown runs T's default operation,
// T::defaultAction() (open the mail page, start the mail program, toggle mute, ...), on the
// view of the same key when that view is a T. KeyUp does nothing.
template <typename T> class CDefaultViewAction : public CViewAction<T, &T::defaultAction> {
public:
    explicit CDefaultViewAction(IQXActionPluginContext* context)
        : CViewAction<T, &T::defaultAction>(context) {}
};
