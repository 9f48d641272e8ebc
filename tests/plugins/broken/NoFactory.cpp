// Loads, but exports none of the three factories.
#include "pluginhost/QXPluginInterfaces.h"

QX_PLUGIN_EXPORT int qxNotAFactory() {
    return 1;
}
