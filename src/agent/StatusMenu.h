#pragma once

#include "platform/Bundle.h"
#include "platform/Result.h"
#include "platform/StatusNotifierItem.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The agent's menu: the open entry, a separator, the status line (a display
// line, never enabled) and the capture entry, with their texts from the
// editor's bundle. The model lives here; the desktop's tray shows it when
// there is one, and the agent's port reads and clicks it always, so that a
// user without a desktop has the same menu. Main loop only.
class StatusMenu {
public:
    enum Entry : size_t { kOpenEntry = 0, kSeparator = 1, kStatusLine = 2, kCaptureEntry = 3 };
    struct Actions {
        std::function<void()> mLaunchTROVApp;
        std::function<void()> mToggleCaptureState;
    };

    // Builds the entries with their first titles and shows them in the tray.
    StatusMenu(std::shared_ptr<platform::Bundle> bundle, Actions actions);
    ~StatusMenu();
    StatusMenu(const StatusMenu&) = delete;
    StatusMenu& operator=(const StatusMenu&) = delete;

    // The entries for the agent's state (1, 2 or 3; others change nothing).
    void update(int32_t state);
    // "Status: Capturing [HH:MM:SS]", `elapsed` seconds into a capture.
    void showRunningTime(double elapsed);
    void showDeviceMissing();
    // The record image, else the idle one.
    void showIcon(bool record);

    const std::vector<platform::StatusNotifierItem::Entry>& entries() const { return mEntries; }
    // Carries out the entry's action; why not when it is not there or not enabled.
    platform::Status click(size_t index);

private:
    std::string text(const char* key, const char* defaultText) const;
    void setEntry(Entry entry, const std::string& title, bool enabled);
    void showInTray();
    void publish();

    std::shared_ptr<platform::Bundle> mBundle;
    Actions mActions;
    std::vector<platform::StatusNotifierItem::Entry> mEntries;
    platform::StatusNotifierItem::Icon mIdleIcon, mRecordIcon;
    std::unique_ptr<platform::StatusNotifierItem> mTray;
};
