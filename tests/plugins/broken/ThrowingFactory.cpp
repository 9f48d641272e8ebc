// Every factory throws.
#include "pluginhost/QXPluginInterfaces.h"

#include <new>
#include <stdexcept>

QX_PLUGIN_EXPORT IQXViewPluginInstance* createView(const char16_t*, IQXViewPluginContext*) {
    throw std::runtime_error("view");
}

QX_PLUGIN_EXPORT IQXActionPluginInstance* createAction(const char16_t*, IQXActionPluginContext*) {
    throw 42;
}

QX_PLUGIN_EXPORT IQXConditionPluginInstance* createCondition(const char16_t*,
                                                             IQXConditionPluginContext*) {
    throw std::bad_alloc();
}
