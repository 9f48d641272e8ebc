// Exports only the action and condition factories, and they make nothing.
#include "pluginhost/QXPluginInterfaces.h"

QX_PLUGIN_EXPORT IQXActionPluginInstance* createAction(const char16_t*, IQXActionPluginContext*) {
    return nullptr;
}

QX_PLUGIN_EXPORT IQXConditionPluginInstance* createCondition(const char16_t*,
                                                             IQXConditionPluginContext*) {
    return nullptr;
}
