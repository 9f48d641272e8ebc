// A library that is never loaded: its folder is skipped before that.
#include "pluginhost/QXPluginInterfaces.h"

QX_PLUGIN_EXPORT int qxNotAFactory() {
    return 1;
}
