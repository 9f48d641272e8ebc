// A plug-in library that offers views only, and so exports createView alone.

#include "kit/CPluginInstancesFactory.h"
#include "kit/CQXPluginInstance.h"
#include "pluginhost/QXPluginInterfaces.h"

namespace {

class CStillView : public CQXPluginInstance<IQXViewPluginInstance> {
public:
    explicit CStillView(IQXViewPluginContext* context) : CQXPluginInstance(context) {}
    void Activate() override {}
    void Deactivate() override {}
};

struct CViewsOnlyModule {
    static void registerClasses(CPluginInstancesFactory<CViewsOnlyModule>& factory) {
        factory.registerClass<CStillView>(u"still.view");
    }
};

} // namespace

QX_PLUGIN_EXPORT_CREATE_VIEW(CViewsOnlyModule)
