#include "platform/DBusMenuExporter.h"

#include <algorithm>

namespace platform {

namespace {

constexpr const char* kInterface = "com.canonical.dbusmenu";
constexpr const char* kIntrospection = R"xml(<node><interface name="com.canonical.dbusmenu">
  <property name="Version" type="u" access="read"/>
  <property name="TextDirection" type="s" access="read"/>
  <property name="Status" type="s" access="read"/>
  <method name="GetLayout"><arg type="i" direction="in"/><arg type="i" direction="in"/>
    <arg type="as" direction="in"/><arg type="u" direction="out"/><arg type="(ia{sv}av)" direction="out"/></method>
  <method name="GetGroupProperties"><arg type="ai" direction="in"/><arg type="as" direction="in"/>
    <arg type="a(ia{sv})" direction="out"/></method>
  <method name="GetProperty"><arg type="i" direction="in"/><arg type="s" direction="in"/>
    <arg type="v" direction="out"/></method>
  <method name="Event"><arg type="i" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="in"/>
    <arg type="u" direction="in"/></method>
  <method name="EventGroup"><arg type="a(isvu)" direction="in"/><arg type="ai" direction="out"/></method>
  <method name="AboutToShow"><arg type="i" direction="in"/><arg type="b" direction="out"/></method>
  <method name="AboutToShowGroup"><arg type="ai" direction="in"/><arg type="ai" direction="out"/>
    <arg type="ai" direction="out"/></method>
  <signal name="ItemsPropertiesUpdated"><arg type="a(ia{sv})"/><arg type="a(ias)"/></signal>
  <signal name="LayoutUpdated"><arg type="u"/><arg type="i"/></signal>
  <signal name="ItemActivationRequested"><arg type="i"/><arg type="u"/></signal>
</interface></node>)xml";

std::vector<std::string> stringsOf(GVariant* array) {
    std::vector<std::string> strings;
    GVariantIter iter;
    const char* string;
    g_variant_iter_init(&iter, array);
    while (g_variant_iter_next(&iter, "&s", &string)) strings.emplace_back(string);
    return strings;
}

bool wanted(const std::vector<std::string>& names, const char* name) {
    return names.empty() || std::find(names.begin(), names.end(), name) != names.end();
}

void returnUnknownId(GDBusMethodInvocation* invocation, int32_t id) {
    g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.InvalidArgs",
                                               ("No menu entry has the id " + std::to_string(id)).c_str());
}

bool sameKinds(const std::vector<StatusNotifierItem::Entry>& a, const std::vector<StatusNotifierItem::Entry>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const auto& x, const auto& y) { return x.mSeparator == y.mSeparator; });
}

}  // namespace

Result<std::unique_ptr<DBusMenuExporter>> DBusMenuExporter::create(GDBusConnection* connection,
                                                                   const std::string& objectPath,
                                                                   std::function<void(size_t index)> onClick) {
    static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    static const GDBusInterfaceVTable vtable{&onMethodCall, &onGetProperty, nullptr, {}};
    std::unique_ptr<DBusMenuExporter> menu(new DBusMenuExporter(connection, objectPath, std::move(onClick)));
    GError* error = nullptr;
    menu->mRegistrationId = g_dbus_connection_register_object(connection, objectPath.c_str(), node->interfaces[0],
                                                              &vtable, menu.get(), nullptr, &error);
    if (!menu->mRegistrationId) {
        Status failure = Status::failure("Cannot export the status menu at " + objectPath + ": " + error->message);
        g_error_free(error);
        return failure;
    }
    return menu;
}

DBusMenuExporter::DBusMenuExporter(GDBusConnection* connection, std::string objectPath,
                                   std::function<void(size_t)> onClick)
    : mConnection(G_DBUS_CONNECTION(g_object_ref(connection))),
      mObjectPath(std::move(objectPath)),
      mOnClick(std::move(onClick)) {}

DBusMenuExporter::~DBusMenuExporter() {
    if (mRegistrationId) g_dbus_connection_unregister_object(mConnection, mRegistrationId);
    g_object_unref(mConnection);
}

void DBusMenuExporter::setEntries(const std::vector<Entry>& entries) {
    if (!sameKinds(entries, mEntries)) {
        mEntries = entries;
        emit("LayoutUpdated", g_variant_new("(ui)", ++mRevision, 0));
        return;
    }
    GVariantBuilder updated;
    g_variant_builder_init(&updated, G_VARIANT_TYPE("a(ia{sv})"));
    bool changed = false;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].mLabel == mEntries[i].mLabel && entries[i].mEnabled == mEntries[i].mEnabled) continue;
        mEntries[i] = entries[i];
        const int32_t id = int32_t(i + 1);
        g_variant_builder_add(&updated, "(i@a{sv})", id, properties(id, {}));
        changed = true;
    }
    if (!changed) {
        g_variant_builder_clear(&updated);
        return;
    }
    emit("ItemsPropertiesUpdated", g_variant_new("(a(ia{sv})a(ias))", &updated, nullptr));
}

void DBusMenuExporter::emit(const char* signal, GVariant* parameters) const {
    g_dbus_connection_emit_signal(mConnection, nullptr, mObjectPath.c_str(), kInterface, signal, parameters, nullptr);
}

bool DBusMenuExporter::knows(int32_t id) const { return id >= 0 && size_t(id) <= mEntries.size(); }

bool DBusMenuExporter::isClick(int32_t id, const char* eventId) const {
    if (id < 1 || !knows(id) || g_strcmp0(eventId, "clicked") != 0) return false;
    const Entry& entry = mEntries[size_t(id - 1)];
    return entry.mEnabled && !entry.mSeparator;
}

GVariant* DBusMenuExporter::properties(int32_t id, const std::vector<std::string>& names) const {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
    auto add = [&](const char* name, GVariant* value) {
        if (wanted(names, name))
            g_variant_builder_add(&builder, "{sv}", name, value);
        else
            g_variant_unref(g_variant_ref_sink(value));
    };
    if (id == 0) {
        add("children-display", g_variant_new_string("submenu"));
    } else if (mEntries[size_t(id - 1)].mSeparator) {
        add("type", g_variant_new_string("separator"));
        add("visible", g_variant_new_boolean(TRUE));
    } else {
        const Entry& entry = mEntries[size_t(id - 1)];
        add("label", g_variant_new_string(entry.mLabel.c_str()));
        add("enabled", g_variant_new_boolean(entry.mEnabled));
        add("visible", g_variant_new_boolean(TRUE));
    }
    return g_variant_builder_end(&builder);
}

GVariant* DBusMenuExporter::layout(int32_t id, int32_t depth, const std::vector<std::string>& names) const {
    GVariantBuilder children;
    g_variant_builder_init(&children, G_VARIANT_TYPE("av"));
    // Only the root has children; a depth of -1 means all levels.
    if (id == 0 && depth != 0)
        for (size_t i = 0; i < mEntries.size(); ++i)
            g_variant_builder_add(&children, "v", layout(int32_t(i + 1), 0, names));
    return g_variant_new("(i@a{sv}av)", id, properties(id, names), &children);
}

void DBusMenuExporter::onMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                                    GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self) {
    using Handler = void (DBusMenuExporter::*)(GVariant*, GDBusMethodInvocation*) const;
    static const std::pair<const char*, Handler> kHandlers[] = {
        {"GetLayout", &DBusMenuExporter::getLayout},   {"GetGroupProperties", &DBusMenuExporter::getGroupProperties},
        {"GetProperty", &DBusMenuExporter::getProperty}, {"Event", &DBusMenuExporter::event},
        {"EventGroup", &DBusMenuExporter::eventGroup}, {"AboutToShowGroup", &DBusMenuExporter::aboutToShowGroup},
    };
    auto* menu = static_cast<DBusMenuExporter*>(self);
    for (const auto& [name, handler] : kHandlers)
        if (g_strcmp0(method, name) == 0) return (menu->*handler)(parameters, invocation);
    // AboutToShow: the menu is always up to date.
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", FALSE));
}

GVariant* DBusMenuExporter::onGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                          const gchar* property, GError**, gpointer) {
    if (g_strcmp0(property, "Version") == 0) return g_variant_new_uint32(3);
    if (g_strcmp0(property, "TextDirection") == 0) return g_variant_new_string("ltr");
    return g_variant_new_string("normal");  // Status
}

void DBusMenuExporter::getLayout(GVariant* parameters, GDBusMethodInvocation* invocation) const {
    int32_t parent, depth;
    GVariant* names;
    g_variant_get(parameters, "(ii@as)", &parent, &depth, &names);
    if (knows(parent))
        g_dbus_method_invocation_return_value(
            invocation, g_variant_new("(u@(ia{sv}av))", mRevision, layout(parent, depth, stringsOf(names))));
    else
        returnUnknownId(invocation, parent);
    g_variant_unref(names);
}

void DBusMenuExporter::getGroupProperties(GVariant* parameters, GDBusMethodInvocation* invocation) const {
    GVariantIter* ids;
    GVariant* names;
    g_variant_get(parameters, "(ai@as)", &ids, &names);
    const std::vector<std::string> wantedNames = stringsOf(names);
    GVariantBuilder result;
    g_variant_builder_init(&result, G_VARIANT_TYPE("a(ia{sv})"));
    std::vector<int32_t> wantedIds;
    int32_t id;
    while (g_variant_iter_next(ids, "i", &id)) wantedIds.push_back(id);
    // No ids asks for every entry.
    if (wantedIds.empty())
        for (id = 0; knows(id); ++id) wantedIds.push_back(id);
    for (int32_t wantedId : wantedIds)
        if (knows(wantedId)) g_variant_builder_add(&result, "(i@a{sv})", wantedId, properties(wantedId, wantedNames));
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(a(ia{sv}))", &result));
    g_variant_iter_free(ids);
    g_variant_unref(names);
}

void DBusMenuExporter::getProperty(GVariant* parameters, GDBusMethodInvocation* invocation) const {
    int32_t id;
    const char* name;
    g_variant_get(parameters, "(i&s)", &id, &name);
    if (!knows(id)) return returnUnknownId(invocation, id);
    GVariant* all = properties(id, {});
    GVariant* value = g_variant_lookup_value(all, name, nullptr);
    if (value)
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(v)", value));
    else
        g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.InvalidArgs",
                                                   (std::string("The menu entry has no property ") + name).c_str());
    if (value) g_variant_unref(value);
    g_variant_unref(g_variant_ref_sink(all));
}

// A click may destroy this menu (the entry hides the item), so the reply goes
// first and nothing of `this` is touched after the click.
void DBusMenuExporter::event(GVariant* parameters, GDBusMethodInvocation* invocation) const {
    int32_t id;
    const char* eventId;
    g_variant_get(parameters, "(i&svu)", &id, &eventId, nullptr, nullptr);
    if (!knows(id)) return returnUnknownId(invocation, id);
    const bool click = isClick(id, eventId);
    auto onClick = mOnClick;
    g_dbus_method_invocation_return_value(invocation, nullptr);
    if (click && onClick) onClick(size_t(id - 1));
}

void DBusMenuExporter::eventGroup(GVariant* parameters, GDBusMethodInvocation* invocation) const {
    GVariantIter* events;
    g_variant_get(parameters, "(a(isvu))", &events);
    GVariantBuilder errors;
    g_variant_builder_init(&errors, G_VARIANT_TYPE("ai"));
    std::vector<size_t> clicked;
    int32_t id;
    const char* eventId;
    while (g_variant_iter_next(events, "(i&svu)", &id, &eventId, nullptr, nullptr)) {
        if (!knows(id)) g_variant_builder_add(&errors, "i", id);
        if (isClick(id, eventId)) clicked.push_back(size_t(id - 1));
    }
    g_variant_iter_free(events);
    auto onClick = mOnClick;
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(ai)", &errors));
    if (onClick)
        for (size_t index : clicked) onClick(index);
}

void DBusMenuExporter::aboutToShowGroup(GVariant* parameters, GDBusMethodInvocation* invocation) const {
    GVariantIter* ids;
    g_variant_get(parameters, "(ai)", &ids);
    GVariantBuilder errors;
    g_variant_builder_init(&errors, G_VARIANT_TYPE("ai"));
    int32_t id;
    while (g_variant_iter_next(ids, "i", &id))
        if (!knows(id)) g_variant_builder_add(&errors, "i", id);
    g_variant_iter_free(ids);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(aiai)", nullptr, &errors));
}

}  // namespace platform
