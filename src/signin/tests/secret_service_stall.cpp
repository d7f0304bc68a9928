// Takes the Secret Service's bus name and never answers a call, like a
// keyring daemon that has stopped responding. Prints "READY" once it owns
// the name.
#include <gio/gio.h>

#include <cstdio>

namespace {

GDBusMessage *dropCalls(GDBusConnection *, GDBusMessage *message, gboolean incoming, gpointer)
{
    if (incoming && g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_METHOD_CALL) {
        g_object_unref(message);
        return nullptr;
    }
    return message;
}

} // namespace

int main()
{
    GError *error = nullptr;
    GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) {
        std::fprintf(stderr, "no bus: %s\n", error->message);
        return 1;
    }
    GVariant *reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", "org.freedesktop.secrets", 4u /* do not queue */), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    guint32 result = 0;
    if (reply) {
        g_variant_get(reply, "(u)", &result);
        g_variant_unref(reply);
    }
    if (result != 1) {
        std::fprintf(stderr, "could not own the name\n");
        return 1;
    }
    g_dbus_connection_add_filter(bus, dropCalls, nullptr, nullptr);
    std::printf("READY\n");
    std::fflush(stdout);
    g_main_loop_run(g_main_loop_new(nullptr, FALSE));
    return 0;
}
