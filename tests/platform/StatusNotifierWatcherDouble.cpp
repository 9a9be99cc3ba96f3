// Test double for the desktop's org.kde.StatusNotifierWatcher, which tests
// cannot have: takes the watcher's name on the session bus and prints each
// service passed to RegisterStatusNotifierItem on a line of its own.
#include <gio/gio.h>

#include <cstdio>

int main() {
    static const char* kXml = R"xml(<node><interface name="org.kde.StatusNotifierWatcher">
      <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
    </interface></node>)xml";
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kXml, nullptr);
    auto methodCall = +[](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                          GVariant* parameters, GDBusMethodInvocation* invocation, gpointer) {
        const char* service = nullptr;
        g_variant_get(parameters, "(&s)", &service);
        std::printf("%s\n", service);
        std::fflush(stdout);
        g_dbus_method_invocation_return_value(invocation, nullptr);
    };
    const GDBusInterfaceVTable vtable{methodCall, nullptr, nullptr, {}};
    // The object is there before the name is taken, so no call finds the name without it.
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus) return 1;
    g_dbus_connection_register_object(bus, "/StatusNotifierWatcher", node->interfaces[0], &vtable, nullptr, nullptr,
                                      nullptr);
    g_bus_own_name_on_connection(bus, "org.kde.StatusNotifierWatcher", G_BUS_NAME_OWNER_FLAGS_NONE, nullptr, nullptr,
                                 nullptr, nullptr);
    g_main_loop_run(g_main_loop_new(nullptr, FALSE));
}
