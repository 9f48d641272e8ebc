// The Video plug-in: a video file, stream or web page played on a key, with actions that
// open the source and switch the sound on and off.

#include "CVideoPluginView.h"
#include "kit/CDefaultViewAction.h"

#include <string_view>
#include <type_traits>

// Every view identifier makes the video view.
QX_PLUGIN_EXPORT IQXViewPluginInstance* createView(const char16_t* id,
                                                   IQXViewPluginContext* context) {
    if (!id || !context)
        return nullptr;
    try {
        return new CVideoPluginView(context);
    } catch (...) {
        return nullptr;
    }
}
static_assert(std::is_same_v<decltype(&createView), QXCreateViewFunction>);

// Identifiers beginning with "goto" open the source; every other one toggles the sound.
QX_PLUGIN_EXPORT IQXActionPluginInstance* createAction(const char16_t* id,
                                                       IQXActionPluginContext* context) {
    if (!id || !context)
        return nullptr;
    try {
        if (std::u16string_view(id).starts_with(u"goto"))
            return new CDefaultViewAction<CVideoPluginView>(context);
        return new CViewAction<CVideoPluginView, &CVideoPluginView::DoToggleMute>(context);
    } catch (...) {
        return nullptr;
    }
}
static_assert(std::is_same_v<decltype(&createAction), QXCreateActionFunction>);
