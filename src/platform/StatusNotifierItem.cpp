#include "platform/StatusNotifierItem.h"

#include "platform/DBusMenuExporter.h"
#include "platform/Log.h"
#include "platform/PngImage.h"

#include <gio/gio.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr const char* kItemPath = "/StatusNotifierItem";
constexpr const char* kMenuPath = "/MenuBar";
constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr int kBusCallTimeoutMs = 2000;
constexpr const char* kIntrospection = R"xml(<node><interface name="org.kde.StatusNotifierItem">
  <property name="Category" type="s" access="read"/>
  <property name="Id" type="s" access="read"/>
  <property name="Title" type="s" access="read"/>
  <property name="Status" type="s" access="read"/>
  <property name="IconName" type="s" access="read"/>
  <property name="IconPixmap" type="a(iiay)" access="read"/>
  <property name="Menu" type="o" access="read"/>
  <property name="ItemIsMenu" type="b" access="read"/>
  <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
  <method name="Activate"><arg type="i" direction="in"/><arg type="i" direction="in"/></method>
  <method name="SecondaryActivate"><arg type="i" direction="in"/><arg type="i" direction="in"/></method>
  <method name="ContextMenu"><arg type="i" direction="in"/><arg type="i" direction="in"/></method>
  <method name="Scroll"><arg type="i" direction="in"/><arg type="s" direction="in"/></method>
  <signal name="NewIcon"/>
  <signal name="NewStatus"><arg type="s"/></signal>
  <signal name="NewTitle"/>
</interface></node>)xml";

std::string takeMessage(GError* error) {
    std::string message = error ? error->message : "unknown error";
    if (error) g_error_free(error);
    return message;
}

}  // namespace

struct StatusNotifierItem::State {
    std::string mId;
    std::string mTitle;
    std::string mBusName;
    Icon mIcon;
    GDBusConnection* mConnection = nullptr;
    GCancellable* mCancellable = g_cancellable_new();
    guint mObjectId = 0;
    guint mWatchId = 0;
    bool mOwnsName = false;
    bool mRegistered = false;
    std::unique_ptr<DBusMenuExporter> mMenu;

    ~State();
    Status connect();
    Status exportItem();
    Status ownName();
    void watchWatcher();
    void registerWithWatcher();
    GVariant* property(const char* name) const;
    GVariant* pixmaps() const;
};

Status StatusNotifierItem::State::connect() {
    // A connection of our own rather than the shared session bus: that one
    // exits the process when the bus goes away, and it cannot be dropped, so
    // the name would outlive the item.
    GError* error = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!address) return Status::failure("No D-Bus session bus for the tray item: " + takeMessage(error));
    mConnection = g_dbus_connection_new_for_address_sync(
        address,
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    std::string where = address;
    g_free(address);
    if (!mConnection)
        return Status::failure("Cannot reach the D-Bus session bus at " + where + " for the tray item: " +
                               takeMessage(error));
    return Status::success();
}

Status StatusNotifierItem::State::exportItem() {
    static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    auto getProperty = +[](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GError**,
                           gpointer state) { return static_cast<State*>(state)->property(name); };
    // Activation and scrolling do nothing: the item is its menu.
    auto methodCall = +[](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
                          GDBusMethodInvocation* invocation,
                          gpointer) { g_dbus_method_invocation_return_value(invocation, nullptr); };
    static const GDBusInterfaceVTable vtable{methodCall, getProperty, nullptr, {}};
    GError* error = nullptr;
    mObjectId = g_dbus_connection_register_object(mConnection, kItemPath, node->interfaces[0], &vtable, this,
                                                  nullptr, &error);
    if (!mObjectId) return Status::failure("Cannot export the tray item: " + takeMessage(error));
    return Status::success();
}

Status StatusNotifierItem::State::ownName() {
    static int serial = 0;
    mBusName = std::string(kItemInterface) + "-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
    GError* error = nullptr;
    constexpr guint32 kDoNotQueue = 4;
    GVariant* reply = g_dbus_connection_call_sync(
        mConnection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", mBusName.c_str(), kDoNotQueue), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE,
        kBusCallTimeoutMs, nullptr, &error);
    if (!reply) return Status::failure("Cannot take the bus name " + mBusName + ": " + takeMessage(error));
    guint32 answer = 0;
    g_variant_get(reply, "(u)", &answer);
    g_variant_unref(reply);
    constexpr guint32 kPrimaryOwner = 1;
    mOwnsName = answer == kPrimaryOwner;
    if (!mOwnsName) return Status::failure("The bus name " + mBusName + " belongs to another program");
    return Status::success();
}

// The watcher's appearance is reported once at the start when it is there
// already, and again whenever a (new) watcher takes the name.
void StatusNotifierItem::State::watchWatcher() {
    auto appeared = +[](GDBusConnection*, const gchar*, const gchar*, gpointer state) {
        static_cast<State*>(state)->registerWithWatcher();
    };
    auto vanished = +[](GDBusConnection*, const gchar*, gpointer state) {
        static_cast<State*>(state)->mRegistered = false;
    };
    mWatchId = g_bus_watch_name_on_connection(mConnection, kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE, appeared,
                                              vanished, this, nullptr);
}

void StatusNotifierItem::State::registerWithWatcher() {
    // After cancellation the reply reports G_IO_ERROR_CANCELLED, and `state`
    // is gone by then: it is only read for other outcomes.
    auto done = +[](GObject* connection, GAsyncResult* result, gpointer state) {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(connection), result, &error);
        if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) return g_error_free(error);
        static_cast<State*>(state)->mRegistered = reply != nullptr;
        if (reply) return g_variant_unref(reply);
        Log::warning("The desktop's tray did not take the item: %s", takeMessage(error).c_str());
    };
    g_dbus_connection_call(mConnection, kWatcherName, "/StatusNotifierWatcher", kWatcherName,
                           "RegisterStatusNotifierItem", g_variant_new("(s)", mBusName.c_str()), nullptr,
                           G_DBUS_CALL_FLAGS_NONE, kBusCallTimeoutMs, mCancellable, done, this);
}

GVariant* StatusNotifierItem::State::pixmaps() const {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a(iiay)"));
    if (!mIcon.mArgb.empty()) {
        GVariant* bytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, mIcon.mArgb.data(), mIcon.mArgb.size(), 1);
        g_variant_builder_add(&builder, "(ii@ay)", mIcon.mWidth, mIcon.mHeight, bytes);
    }
    return g_variant_builder_end(&builder);
}

GVariant* StatusNotifierItem::State::property(const char* name) const {
    const std::string_view property = name;
    if (property == "Category") return g_variant_new_string("ApplicationStatus");
    if (property == "Id") return g_variant_new_string(mId.c_str());
    if (property == "Title") return g_variant_new_string(mTitle.c_str());
    if (property == "Status") return g_variant_new_string("Active");
    if (property == "IconName") return g_variant_new_string(mIcon.mName.c_str());
    if (property == "IconPixmap") return pixmaps();
    if (property == "Menu") return g_variant_new_object_path(kMenuPath);
    if (property == "ItemIsMenu") return g_variant_new_boolean(TRUE);
    return g_variant_new("(sa(iiay)ss)", "", nullptr, mTitle.c_str(), "");  // ToolTip
}

// Unexports and releases the name before the connection closes, so that a
// host sees the item leave at once and a new item never meets the old one.
StatusNotifierItem::State::~State() {
    g_cancellable_cancel(mCancellable);
    if (mWatchId) g_bus_unwatch_name(mWatchId);
    mMenu.reset();
    if (mObjectId) g_dbus_connection_unregister_object(mConnection, mObjectId);
    if (mOwnsName) {
        GVariant* reply = g_dbus_connection_call_sync(
            mConnection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ReleaseName",
            g_variant_new("(s)", mBusName.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE, kBusCallTimeoutMs, nullptr,
            nullptr);
        if (reply) g_variant_unref(reply);
    }
    if (mConnection) {
        g_dbus_connection_close_sync(mConnection, nullptr, nullptr);
        g_object_unref(mConnection);
    }
    g_object_unref(mCancellable);
}

Result<std::unique_ptr<StatusNotifierItem>> StatusNotifierItem::create(const std::string& id, const std::string& title,
                                                                       std::function<void(size_t index)> onClick) {
    auto state = std::make_unique<State>();
    state->mId = id;
    state->mTitle = title;
    if (Status status = state->connect(); !status) return status;
    auto menu = DBusMenuExporter::create(state->mConnection, kMenuPath, std::move(onClick));
    if (!menu) return menu.status();
    state->mMenu = std::move(*menu);
    if (Status status = state->exportItem(); !status) return status;
    if (Status status = state->ownName(); !status) return status;
    state->watchWatcher();
    return std::unique_ptr<StatusNotifierItem>(new StatusNotifierItem(std::move(state)));
}

StatusNotifierItem::StatusNotifierItem(std::unique_ptr<State> state) : mState(std::move(state)) {}

StatusNotifierItem::~StatusNotifierItem() = default;

void StatusNotifierItem::setIcon(const Icon& icon) {
    mState->mIcon = icon;
    g_dbus_connection_emit_signal(mState->mConnection, nullptr, kItemPath, kItemInterface, "NewIcon", nullptr,
                                  nullptr);
}

void StatusNotifierItem::setMenu(const std::vector<Entry>& entries) { mState->mMenu->setEntries(entries); }

bool StatusNotifierItem::isRegistered() const { return mState->mRegistered; }

Result<StatusNotifierItem::Icon> StatusNotifierItem::iconFromPng(const std::string& path, const std::string& name) {
    auto image = readPngArgb(path);
    if (!image) return image.status();
    return Icon{name, image->mWidth, image->mHeight, std::move(image->mArgb)};
}

}  // namespace platform
