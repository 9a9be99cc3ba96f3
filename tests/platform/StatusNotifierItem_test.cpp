#include "platform/StatusNotifierItem.h"

#include "../fixtures/ChildProcess.h"
#include "platform/MainLoop.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

using platform::StatusNotifierItem;

namespace {

const std::string kBundle = TROV_RESOURCE_DIR "/Trovario.bundle/";

// A private session bus for one test, with a host's connection to it.
struct SessionBusTest : testing::Test {
    void SetUp() override {
        FILE* out = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
        char address[512] = {}, pid[32] = {};
        ASSERT_TRUE(out && fgets(address, sizeof address, out) && fgets(pid, sizeof pid, out));
        pclose(out);
        address[strcspn(address, "\n")] = 0;
        mDaemon = atoi(pid);
        mEnvironment.emplace("DBUS_SESSION_BUS_ADDRESS", address);
        mHost = g_dbus_connection_new_for_address_sync(
            address, GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        ASSERT_NE(mHost, nullptr);
    }
    void TearDown() override {
        if (mWatcher > 0) kill(mWatcher, SIGKILL), waitpid(mWatcher, nullptr, 0);
        for (GVariant* value : mKept) g_variant_unref(value);
        if (mHost) g_object_unref(mHost);
        if (mDaemon > 0) kill(mDaemon, SIGTERM);
    }
    void startWatcher() { mWatcher = spawnLogged({TROV_WATCHER_DOUBLE}, mDir / "watcher.log"); }
    std::string registrations() const { return TemporaryDirectory::read(mDir / "watcher.log"); }

    // Calls as a tray host would, serving the item on this thread meanwhile.
    GVariant* call(const std::string& dest, const char* path, const char* interface, const char* method,
                   GVariant* args) {
        struct Wait { GVariant* reply = nullptr; bool done = false; } wait;
        auto done = +[](GObject* host, GAsyncResult* result, gpointer wait) {
            static_cast<Wait*>(wait)->reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(host), result, nullptr);
            static_cast<Wait*>(wait)->done = true;
        };
        g_dbus_connection_call(mHost, dest.c_str(), path, interface, method, args, nullptr, G_DBUS_CALL_FLAGS_NONE,
                               5000, nullptr, done, &wait);
        within([&] { return wait.done; });
        return keep(wait.reply);
    }
    GVariant* menu(const char* method, GVariant* args) {
        return call(mName, "/MenuBar", "com.canonical.dbusmenu", method, args);
    }
    GVariant* property(const char* name) {
        GVariant* reply = call(mName, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                               g_variant_new("(ss)", "org.kde.StatusNotifierItem", name));
        return reply ? keep(g_variant_get_child_value(keep(g_variant_get_child_value(reply, 0)), 0)) : nullptr;
    }
    void subscribe(const char* name) {
        auto count = +[](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
                         gpointer n) { ++*static_cast<int*>(n); };
        g_dbus_connection_signal_subscribe(mHost, nullptr, nullptr, name, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                           count, &mSignals[name], nullptr);
    }
    // Replies and the values taken from them live until the test ends.
    GVariant* keep(GVariant* value) { return value ? mKept.emplace_back(value) : nullptr; }
    std::string text(GVariant* value) {
        return std::unique_ptr<gchar, decltype(&g_free)>(g_variant_print(value, FALSE), &g_free).get();
    }
    int itemNames() {
        const std::string names =
            text(call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ListNames", nullptr));
        int count = 0;
        for (size_t at = 0; (at = names.find("'org.kde.StatusNotifierItem-", at)) != std::string::npos; ++at) ++count;
        return count;
    }
    std::unique_ptr<StatusNotifierItem> create(std::vector<size_t>* clicks = nullptr) {
        auto item = StatusNotifierItem::create("trovario", "Trovario", [clicks](size_t i) { clicks->push_back(i); });
        EXPECT_TRUE(item.ok()) << item.message();
        mName = "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-" + std::to_string(++mSerial);
        return item ? std::move(*item) : nullptr;
    }
    bool within(const std::function<bool()>& done) { return platform::MainLoop::shared().runUntil(done, 6); }

    TemporaryDirectory mDir;
    pid_t mDaemon = -1, mWatcher = -1;
    std::optional<ScopedEnvironment> mEnvironment;
    GDBusConnection* mHost = nullptr;
    std::string mName;
    std::map<std::string, int> mSignals;
    std::vector<GVariant*> mKept;
    static inline int mSerial = 0;
};

TEST_F(SessionBusTest, HostReadsTheItemAndItsMenuAndClicksThrough) {
    startWatcher();
    std::vector<size_t> clicks;
    auto item = create(&clicks);
    ASSERT_TRUE(within([&] { return item->isRegistered(); }));
    EXPECT_EQ(registrations(), mName + "\n");
    item->setMenu({{"Open Trovario", true, false}, {"", true, true}, {"Idle", false, false}, {"Start", true, false}});
    for (const char* s : {"NewIcon", "ItemsPropertiesUpdated", "LayoutUpdated"}) subscribe(s);

    EXPECT_STREQ(g_variant_get_string(property("Category"), nullptr), "ApplicationStatus");
    EXPECT_STREQ(g_variant_get_string(property("Menu"), nullptr), "/MenuBar");
    EXPECT_TRUE(g_variant_get_boolean(property("ItemIsMenu")));
    const std::string layout = text(menu("GetLayout", g_variant_new("(ii@as)", 0, -1, g_variant_new_strv({}, 0))));
    EXPECT_NE(layout.find("[<(1, {'label': <'Open Trovario'>, 'enabled': <true>, 'visible': <true>}, @av [])>, "
                          "<(2, {'type': <'separator'>, 'visible': <true>}, @av [])>, "
                          "<(3, {'label': <'Idle'>, 'enabled': <false>"),
              std::string::npos)
        << layout;
    for (int id : {4, 3, 2, 1}) menu("Event", g_variant_new("(isvu)", id, "clicked", g_variant_new_int32(0), 0));
    EXPECT_EQ(clicks, (std::vector<size_t>{3, 0}));  // not the disabled entry, nor the separator

    item->setMenu({{"Open Trovario", true, false}, {"", true, true}, {"Rec", false, false}, {"Stop", true, false}});
    ASSERT_TRUE(within([&] { return mSignals["ItemsPropertiesUpdated"] == 1; }));
    const char* fields[] = {"label", nullptr};
    GVariant* allIds = g_variant_new_array(G_VARIANT_TYPE_INT32, nullptr, 0);
    const std::string group = text(menu("GetGroupProperties", g_variant_new("(@ai^as)", allIds, fields)));
    EXPECT_NE(group.find("(4, {'label': <'Stop'>})"), std::string::npos) << group;
    item->setMenu({{"Open Trovario", true, false}});
    ASSERT_TRUE(within([&] { return mSignals["LayoutUpdated"] == 1; }));

    auto icon = StatusNotifierItem::iconFromPng(kBundle + "trovd_record.png", "trovd_record");
    ASSERT_TRUE(icon.ok()) << icon.message();
    item->setIcon(*icon);
    ASSERT_TRUE(within([&] { return mSignals["NewIcon"] == 1; }));
    int32_t width = 0, height = 0;
    GVariant* bytes = nullptr;
    g_variant_get_child(property("IconPixmap"), 0, "(ii@ay)", &width, &height, &bytes);
    keep(bytes);
    ASSERT_EQ(std::make_pair(width, height), std::make_pair(16, 16));
    const auto* argb = static_cast<const uint8_t*>(g_variant_get_data(bytes)) + (8 * 16 + 8) * 4;
    EXPECT_EQ(std::vector<uint8_t>(argb, argb + 4), (std::vector<uint8_t>{255, 208, 32, 32}));
    EXPECT_STREQ(g_variant_get_string(property("IconName"), nullptr), "trovd_record");
}

TEST_F(SessionBusTest, LateWatcherGetsTheItemRecreationLeavesOneAndALostBusIsSurvived) {
    EXPECT_FALSE(create()->isRegistered());  // shown and hidden before any watcher
    auto item = create();
    startWatcher();
    ASSERT_TRUE(within([&] { return item->isRegistered(); }));
    EXPECT_EQ(registrations(), mName + "\n");
    EXPECT_EQ(itemNames(), 1);
    kill(mDaemon, SIGTERM);  // the bus goes away: the item stays, unregistered
    EXPECT_TRUE(within([&] { return !item->isRegistered(); }));
}

TEST(StatusNotifierItemTest, FailsWithoutSessionBusOrReadableIcon) {
    ScopedEnvironment noBus("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/trovario-bus");
    auto item = StatusNotifierItem::create("trovario", "Trovario", [](size_t) {});
    EXPECT_TRUE(!item.ok() && !item.message().empty());
    EXPECT_FALSE(StatusNotifierItem::iconFromPng(kBundle + "en.lproj/Localizable.strings", "x").ok());
}

}  // namespace
