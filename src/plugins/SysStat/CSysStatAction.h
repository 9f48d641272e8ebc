#pragma once

#include "kit/CQXPluginInstance.h"

#include <string>
#include <vector>

// "monitor.action": a press starts the desktop's system monitor on its resources page, the
// first of GNOME's, KDE's and Xfce's found on PATH; with none, nothing happens (and the log
// says so once). GUI thread.
class CSysStatAction : public CQXPluginInstance<IQXActionPluginInstance> {
public:
    explicit CSysStatAction(IQXActionPluginContext* context) : CQXPluginInstance(context) {}

    void KeyDown() override;
    void KeyUp() override {}

    // The command line of the first monitor on PATH, program path first; empty with none.
    static std::vector<std::string> monitorCommand();
};
