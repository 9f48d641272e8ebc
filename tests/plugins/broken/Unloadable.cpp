// Refers to a function no library defines, so it cannot be loaded.
#include "pluginhost/QXPluginInterfaces.h"

extern "C" IQXViewPluginInstance* qxNoSuchFunction(const char16_t* id);

QX_PLUGIN_EXPORT IQXViewPluginInstance* createView(const char16_t* id, IQXViewPluginContext*) {
    return qxNoSuchFunction(id);
}
