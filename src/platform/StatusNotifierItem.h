#pragma once

#include "platform/Result.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The agent's item in the desktop's tray: an org.kde.StatusNotifierItem with
// its menu exported as com.canonical.dbusmenu, on the session bus, registered
// with the desktop's org.kde.StatusNotifierWatcher (again whenever a watcher
// appears). Main loop only: its D-Bus traffic is served by the main loop.
class StatusNotifierItem {
public:
    // One entry of the menu, top to bottom; clicks report its index.
    struct Entry {
        std::string mLabel;
        bool mEnabled = true;
        bool mSeparator = false;
    };
    // An icon: its theme name, and its pixels (decoded from a PNG file) for
    // hosts that take IconPixmap.
    struct Icon {
        std::string mName;
        int32_t mWidth = 0;
        int32_t mHeight = 0;
        std::vector<uint8_t> mArgb;  // ARGB32 in network byte order, as IconPixmap carries it
    };

    // The item on the session bus, or why not (no session bus). `onClick` runs
    // on the main loop with the index of the entry clicked.
    static Result<std::unique_ptr<StatusNotifierItem>> create(const std::string& id, const std::string& title,
                                                              std::function<void(size_t index)> onClick);
    // Leaves the bus: the tray loses the item.
    ~StatusNotifierItem();
    StatusNotifierItem(const StatusNotifierItem&) = delete;
    StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

    // Emits NewIcon.
    void setIcon(const Icon& icon);
    // Replaces the entries; hosts are told what changed.
    void setMenu(const std::vector<Entry>& entries);
    // Whether a watcher has taken the item.
    bool isRegistered() const;

    // Reads a PNG file into an icon named `name`; why not when it cannot be read.
    static Result<Icon> iconFromPng(const std::string& path, const std::string& name);

private:
    struct State;
    explicit StatusNotifierItem(std::unique_ptr<State> state);
    std::unique_ptr<State> mState;
};

}  // namespace platform
