#pragma once

#include "platform/StatusNotifierItem.h"

#include <gio/gio.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// A flat menu exported as com.canonical.dbusmenu on a D-Bus connection, the
// way tray hosts read a StatusNotifierItem's menu. The root has id 0; entry i
// has id i + 1. Main loop only: hosts' calls are served there.
class DBusMenuExporter {
public:
    using Entry = StatusNotifierItem::Entry;

    // Exports the menu at `objectPath`; `onClick` gets the index of an enabled
    // entry a host clicked.
    static Result<std::unique_ptr<DBusMenuExporter>> create(GDBusConnection* connection, const std::string& objectPath,
                                                            std::function<void(size_t index)> onClick);
    // Unexports the menu.
    ~DBusMenuExporter();
    DBusMenuExporter(const DBusMenuExporter&) = delete;
    DBusMenuExporter& operator=(const DBusMenuExporter&) = delete;

    // Replaces the entries: a new layout when entries come or go or change
    // kind, otherwise only the changed entries' properties are announced.
    void setEntries(const std::vector<Entry>& entries);

private:
    DBusMenuExporter(GDBusConnection* connection, std::string objectPath, std::function<void(size_t)> onClick);

    static void onMethodCall(GDBusConnection*, const gchar* sender, const gchar* path, const gchar* interface,
                             const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                             gpointer self);
    static GVariant* onGetProperty(GDBusConnection*, const gchar* sender, const gchar* path, const gchar* interface,
                                   const gchar* property, GError** error, gpointer self);

    void getLayout(GVariant* parameters, GDBusMethodInvocation* invocation) const;
    void getGroupProperties(GVariant* parameters, GDBusMethodInvocation* invocation) const;
    void getProperty(GVariant* parameters, GDBusMethodInvocation* invocation) const;
    void event(GVariant* parameters, GDBusMethodInvocation* invocation) const;
    void eventGroup(GVariant* parameters, GDBusMethodInvocation* invocation) const;
    void aboutToShowGroup(GVariant* parameters, GDBusMethodInvocation* invocation) const;

    bool knows(int32_t id) const;
    bool isClick(int32_t id, const char* eventId) const;
    GVariant* properties(int32_t id, const std::vector<std::string>& names) const;
    GVariant* layout(int32_t id, int32_t depth, const std::vector<std::string>& names) const;
    void emit(const char* signal, GVariant* parameters) const;

    GDBusConnection* mConnection;  // owned reference
    std::string mObjectPath;
    std::function<void(size_t)> mOnClick;
    guint mRegistrationId = 0;
    uint32_t mRevision = 1;
    std::vector<Entry> mEntries;
};

}  // namespace platform
