// The Functions plug-in: a text picture view and the type-text, open, hot-key and
// layout-switch actions.

#include "CDrawStringView.h"
#include "CExecuteAction.h"
#include "CHotkeyAction.h"
#include "CStringAction.h"
#include "CSwitchLanguageLayoutAction.h"
#include "kit/CPluginInstancesFactory.h"

namespace {

struct CFunctionsModule {
    static void registerClasses(CPluginInstancesFactory<CFunctionsModule>& factory) {
        factory.registerClass<CDrawStringView>(u"drawstring.view");
        factory.registerClass<CStringAction>(u"string.action");
        factory.registerClass<CExecuteAction>(u"execute.action");
        factory.registerClass<CHotkeyAction>(u"hotkey.action");
        factory.registerClass<CSwitchLanguageLayoutAction>(u"switchlayout.action");
    }
};

} // namespace

QX_PLUGIN_EXPORT_CREATE_VIEW(CFunctionsModule)
QX_PLUGIN_EXPORT_CREATE_ACTION(CFunctionsModule)
