// The library's exports: the two window keys.

#include "CWinTweakActions.h"
#include "kit/CPluginInstancesFactory.h"

namespace {

struct CWinTweakModule {
    static void registerClasses(CPluginInstancesFactory<CWinTweakModule>& factory) {
        factory.registerClass<CXRayWindowAction>(u"XRaywindow.action");
        factory.registerClass<CWindowMoverAction>(u"windowmover.action");
    }
};

} // namespace

QX_PLUGIN_EXPORT IQXActionPluginInstance* createAction(const char16_t* id,
                                                       IQXActionPluginContext* context) {
    // An instance tells its context when it goes: none can be made without one.
    if (!context)
        return nullptr;
    return CPluginInstancesFactory<CWinTweakModule>::instance().createAction(id, context);
}

static_assert(std::is_same_v<decltype(&createAction), QXCreateActionFunction>);
