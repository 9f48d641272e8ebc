// A stand-in for the desktop's panel on a private session bus: it owns the
// StatusNotifierWatcher and Notifications names, as a panel showing tray icons and
// notifications does, and writes every call it gets to the file named by its argument,
// one line each. Says "ready" on that file once both names are owned.
#include <cstdio>
#include <gio/gio.h>
#include <initializer_list>

namespace {

constexpr const char* kInterfaces =
    "<node><interface name='org.kde.StatusNotifierWatcher'>"
    "<method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>"
    "<method name='RegisterStatusNotifierHost'><arg type='s' direction='in'/></method>"
    "<property name='IsStatusNotifierHostRegistered' type='b' access='read'/>"
    "<property name='ProtocolVersion' type='i' access='read'/>"
    "<property name='RegisteredStatusNotifierItems' type='as' access='read'/>"
    "</interface><interface name='org.freedesktop.Notifications'>"
    "<method name='Notify'><arg type='s' direction='in'/><arg type='u' direction='in'/>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='as' direction='in'/><arg type='a{sv}' direction='in'/>"
    "<arg type='i' direction='in'/><arg type='u' direction='out'/></method>"
    "<method name='GetCapabilities'><arg type='as' direction='out'/></method>"
    "</interface></node>";

FILE* g_calls = nullptr;
int g_owned = 0;

void onCall(GDBusConnection*, const gchar*, const gchar*, const gchar* interface,
            const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
            gpointer) {
    gchar* text = g_variant_print(parameters, FALSE);
    std::fprintf(g_calls, "%s.%s %s\n", interface, method, text);
    std::fflush(g_calls);
    g_free(text);
    if (g_strcmp0(method, "Notify") == 0) {
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", 1u));
    } else if (g_strcmp0(method, "GetCapabilities") == 0) {
        const gchar* capabilities[] = {"body", nullptr};
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(^as)", capabilities));
    } else {
        g_dbus_method_invocation_return_value(invocation, nullptr);
    }
}

GVariant* onProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name,
                     GError**, gpointer) {
    if (g_strcmp0(name, "IsStatusNotifierHostRegistered") == 0)
        return g_variant_new_boolean(TRUE);
    if (g_strcmp0(name, "ProtocolVersion") == 0)
        return g_variant_new_int32(0);
    return g_variant_new_strv(nullptr, 0);
}

void onOwned(GDBusConnection*, const gchar*, gpointer) {
    if (++g_owned == 2) {
        std::fprintf(g_calls, "ready\n");
        std::fflush(g_calls);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || !(g_calls = std::fopen(argv[1], "a")))
        return 2;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus)
        return 1;
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kInterfaces, nullptr);
    static const GDBusInterfaceVTable vtable = {onCall, onProperty, nullptr, {}};
    g_dbus_connection_register_object(bus, "/StatusNotifierWatcher", node->interfaces[0], &vtable,
                                      nullptr, nullptr, nullptr);
    g_dbus_connection_register_object(bus, "/org/freedesktop/Notifications", node->interfaces[1],
                                      &vtable, nullptr, nullptr, nullptr);
    for (const char* name : {"org.kde.StatusNotifierWatcher", "org.freedesktop.Notifications"})
        g_bus_own_name_on_connection(bus, name, G_BUS_NAME_OWNER_FLAGS_NONE, onOwned, nullptr,
                                     nullptr, nullptr);
    // Ends with the bus or a signal; the test stops it.
    g_main_loop_run(g_main_loop_new(nullptr, FALSE));
    return 0;
}
