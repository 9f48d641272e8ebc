// The Mail plug-in: unread counts of a web mail account, the local mailbox and a POP3
// mailbox, and the actions that open the newest message or the mail program.

#include "CDefaultMailerViewInstance.h"
#include "CGmailPluginView.h"
#include "CPOP3MailViewInstance.h"
#include "kit/CDefaultViewAction.h"
#include "kit/CPluginInstancesFactory.h"

namespace {

struct CMailPluginModule {
    static void registerClasses(CPluginInstancesFactory<CMailPluginModule>& factory) {
        factory.registerClass<CGmailPluginView>(u"incount.gmail.view");
        factory.registerClass<CDefaultMailerViewInstance>(u"incount.shellmail.view");
        factory.registerClass<CPOP3MailViewInstance>(u"incount.pop.view");
        factory.registerClass<CDefaultViewAction<CGmailPluginView>>(u"goto.gmail.action");
        factory.registerClass<CDefaultViewAction<CDefaultMailerViewInstance>>(
            u"goto.shellmail.action");
    }
};

} // namespace

QX_PLUGIN_EXPORT_CREATE_VIEW(CMailPluginModule)
QX_PLUGIN_EXPORT_CREATE_ACTION(CMailPluginModule)
