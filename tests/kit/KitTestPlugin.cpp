// A plug-in library built like a real one, from the boundary header and the kit alone; the
// tests load it with dlopen and use it through its exports only. Instances report through
// their context's properties, which the test's context keeps.

#include "kit/CDefaultViewAction.h"
#include "kit/CPluginInstancesFactory.h"
#include "kit/CQXPluginInstance.h"
#include "kit/CQXViewPluginInstanceEx.h"
#include "kit/CViewAction.h"
#include "pluginhost/QXPluginInterfaces.h"

namespace {

// Redraws at every tick of the working thread: paints its first pixel white and publishes.
class CTickerView : public CQXViewPluginInstanceEx<CTickerView, 0> {
public:
    explicit CTickerView(IQXViewPluginContext* context) : CQXViewPluginInstanceEx(context) {
        context->SetProperty(u"class", u"ticker");
    }

    void Update() override {
        if (QXDrawingSurface* surface = context()->GetDC())
            surface->bits[0] = surface->bits[1] = surface->bits[2] = 255;
        context()->UpdateImage();
    }

    void defaultAction() { context()->SetProperty(u"pressed", u"default"); }
    void toggleMute() {
        m_muted = !m_muted;
        context()->SetProperty(u"muted", m_muted ? u"1" : u"0");
    }

private:
    bool m_muted = false;
};

class CFirstView : public CQXPluginInstance<IQXViewPluginInstance> {
public:
    explicit CFirstView(IQXViewPluginContext* context) : CQXPluginInstance(context) {
        context->SetProperty(u"class", u"first");
    }
    void Activate() override {}
    void Deactivate() override {}
};

class CSecondView : public CQXPluginInstance<IQXViewPluginInstance> {
public:
    explicit CSecondView(IQXViewPluginContext* context) : CQXPluginInstance(context) {
        context->SetProperty(u"class", u"second");
    }
    void Activate() override {}
    void Deactivate() override {}
};

class COnCondition : public CQXPluginInstance<IQXConditionPluginInstance> {
public:
    explicit COnCondition(IQXConditionPluginContext* context) : CQXPluginInstance(context) {
        context->SetActive(1);
    }
};

struct CKitTestModule {
    static void registerClasses(CPluginInstancesFactory<CKitTestModule>& factory) {
        factory.registerClass<CTickerView>(u"ticker.view");
        factory.registerClass<CFirstView>(u"replaced.view");
        factory.registerClass<CSecondView>(u"replaced.view");
        factory.registerClass<CDefaultViewAction<CTickerView>>(u"default.action");
        factory.registerClass<CViewAction<CTickerView, &CTickerView::toggleMute>>(u"mute.action");
        factory.registerClass<COnCondition>(u"on.condition");
    }
};

} // namespace

QX_PLUGIN_EXPORT_CREATE_VIEW(CKitTestModule)
QX_PLUGIN_EXPORT_CREATE_ACTION(CKitTestModule)
QX_PLUGIN_EXPORT_CREATE_CONDITION(CKitTestModule)
