#pragma once

#include "MailProps.h"
#include "QXLocalMailbox.h"
#include "kit/CQXViewPluginInstanceEx.h"

// "incount.shellmail.view": the unread count of the user's local mail, checked every 300 ms
// on the working thread; the store is only counted again after inotify saw it change. No
// properties and no page.
class CDefaultMailerViewInstance
    : public CQXViewPluginInstanceEx<CDefaultMailerViewInstance, 300>,
      public CMailViewInstanceBase {
public:
    explicit CDefaultMailerViewInstance(IQXViewPluginContext* context)
        : CQXViewPluginInstanceEx(context) {}

    void Update() override;

    // The key's action, on the GUI thread: starts the desktop's mail program.
    void defaultAction();

private:
    QXLocalMailbox m_mailbox; // working thread only
};

// Starts the desktop's default mail program: the application that handles "mailto:"
// addresses, else xdg-email without an address. False when there is none.
bool qxOpenMailClient();
