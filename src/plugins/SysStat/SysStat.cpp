// The SysStat plug-in: processor, memory and network figures on keys, and a key that opens
// the desktop's system monitor.

#include "CMemRenderer.h"
#include "CNetRenderer.h"
#include "CSysStatAction.h"
#include "CSysStatView.h"
#include "kit/CPluginInstancesFactory.h"

namespace {

struct CSysStatModule {
    static void registerClasses(CPluginInstancesFactory<CSysStatModule>& factory) {
        factory.registerClass<CCpuView>(u"view.sysstat.cpu");
        factory.registerClass<CMemRenderer>(u"view.sysstat.mem");
        factory.registerClass<CNetRenderer>(u"view.sysstat.net");
        factory.registerClass<CSysStatAction>(u"monitor.action");
    }
};

} // namespace

QX_PLUGIN_EXPORT_CREATE_VIEW(CSysStatModule)

// Every action identifier makes the monitor action: the library has no other.
QX_PLUGIN_EXPORT IQXActionPluginInstance* createAction(const char16_t* /*id*/,
                                                       IQXActionPluginContext* context) {
    return CPluginInstancesFactory<CSysStatModule>::instance().createAction(u"monitor.action",
                                                                            context);
}
static_assert(std::is_same_v<decltype(&createAction), QXCreateActionFunction>);
