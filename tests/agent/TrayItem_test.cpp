// The agent's tray item as a desktop's tray host sees it, on a private
// session bus. Not under ThreadSanitizer: GLib's allocator, which GDBus's own
// thread uses, is not instrumented.
#include "agent/AppController.h"
#include "agent/TROVDMessages.h"

#include "../messaging/MessageTestSupport.h"
#include "TemporaryDirectory.h"

#include <gio/gio.h>
#include <signal.h>

using namespace msgtest;

namespace {

std::shared_ptr<TROVMessage> showing(bool visible) {
    auto message = TROVMessage::initWithData(std::nullopt);
    message->setValueWithSInt32(kTROVDMessageIDKey, kTROVDMessage_SetMenuVisible);
    message->setValueWithBoolean(kTROVDVisibleKey, visible);
    return message;
}

}  // namespace

TEST(TrayItem, BlinksAndLeavesTheBusWhenHidden) {
    TemporaryDirectory runtime;
    ScopedEnvironment runtimeVariable{"XDG_RUNTIME_DIR", runtime.path().c_str()};
    FILE* daemon = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
    char address[512] = {}, pid[32] = {};
    ASSERT_TRUE(daemon && fgets(address, sizeof address, daemon) && fgets(pid, sizeof pid, daemon));
    pclose(daemon);
    address[strcspn(address, "\n")] = 0;
    ScopedEnvironment bus{"DBUS_SESSION_BUS_ADDRESS", address};
    auto controller = AppController::init();
    controller->HandleMachMessage(*showing(true));
    // What a tray host reads, from a thread of its own while the agent serves.
    auto read = [&](bool icon) {
        return whileServing([&] {
            GDBusConnection* host = g_dbus_connection_new_for_address_sync(
                address, GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION), nullptr, nullptr, nullptr);
            GVariant* names = g_dbus_connection_call_sync(host, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                "org.freedesktop.DBus", "ListNames", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
            std::string item, text;
            GVariantIter* iter = nullptr;
            const gchar* name = nullptr;
            g_variant_get(names, "(as)", &iter);
            while (g_variant_iter_next(iter, "&s", &name))
                if (std::string(name).rfind("org.kde.StatusNotifierItem-", 0) == 0) item = name;
            if (icon && !item.empty()) {
                GVariant* value = g_dbus_connection_call_sync(host, item.c_str(), "/StatusNotifierItem",
                    "org.freedesktop.DBus.Properties", "Get", g_variant_new("(ss)", "org.kde.StatusNotifierItem", "IconName"),
                    nullptr, G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
                GVariant* inner = nullptr;
                g_variant_get(value, "(v)", &inner);
                text = g_variant_get_string(inner, nullptr);
                g_variant_unref(inner);
                g_variant_unref(value);
            }
            g_variant_iter_free(iter);
            g_variant_unref(names);
            g_object_unref(host);
            return icon ? text : item;
        });
    };
    std::string blinks;
    for (int step = 0; step < 3; ++step) {
        controller->updateStatusBlinkTimer();
        blinks += read(true) + " ";
    }
    EXPECT_EQ(blinks, "trovd_idle trovd_record trovd_idle ");
    controller->HandleMachMessage(*showing(false));
    EXPECT_EQ(read(false), "");
    kill(atoi(pid), SIGTERM);
}
