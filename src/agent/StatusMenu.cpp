#include "agent/StatusMenu.h"

#include "agent/TROVDMessages.h"
#include "platform/Log.h"
#include "platform/ServiceNames.h"
#include "support/ZORTimeFormatter.h"

#include <atomic>
#include <cmath>

using platform::Log;
using platform::StatusNotifierItem;

namespace {

// An icon that cannot be read is shown by its theme name alone.
StatusNotifierItem::Icon loadIcon(const std::shared_ptr<platform::Bundle>& bundle, const std::string& name) {
    const std::string path = bundle ? bundle->pathForResource(name, "png") : "";
    StatusNotifierItem::Icon named;
    named.mName = name;
    if (path.empty()) return named;
    auto icon = StatusNotifierItem::iconFromPng(path, name);
    if (icon) return *icon;
    Log::warning("the status icon %s could not be read: %s", path.c_str(), icon.message().c_str());
    return named;
}

// Seconds as a whole count: the fraction dropped, negative as 0, the rest
// capped at the largest 32-bit count.
uint32_t wholeSeconds(double seconds) {
    if (!(seconds > 0)) return 0;
    return seconds >= 4294967295.0 ? 4294967295u : static_cast<uint32_t>(seconds);
}

}  // namespace

StatusMenu::StatusMenu(std::shared_ptr<platform::Bundle> bundle, Actions actions)
    : mBundle(std::move(bundle)), mActions(std::move(actions)) {
    mEntries = {{text("TROVD_OPENTROV_ID", "Open Trovario"), true, false},
                {"", true, true},
                {text("TROVD_STATUSMENU_ID", "Status: Idle"), false, false},
                {text("TROVD_STARTCAPTURE_ID", "Start Automatic Capture"), true, false}};
    mRecordIcon = loadIcon(mBundle, "trovd_record");
    mIdleIcon = loadIcon(mBundle, "trovd_idle");
    showInTray();
}

StatusMenu::~StatusMenu() = default;

std::string StatusMenu::text(const char* key, const char* defaultText) const {
    return mBundle ? mBundle->localizedString(key, defaultText) : defaultText;
}

// Without a desktop the model stays, read and clicked over the port; that is
// said once per run of the agent, not at every show.
void StatusMenu::showInTray() {
    auto tray = StatusNotifierItem::create(platform::kAgentServiceName, "Trovario", [this](size_t index) {
        if (platform::Status clicked = click(index); !clicked) Log::info("status menu: %s", clicked.message().c_str());
    });
    if (!tray) {
        static std::atomic<bool> told{false};
        if (!told.exchange(true))
            Log::warning("no tray to show the status menu in (%s); `trovarioctl menu` shows and clicks it",
                         tray.message().c_str());
        return;
    }
    mTray = std::move(*tray);
    mTray->setIcon(mIdleIcon);
    mTray->setMenu(mEntries);
}

void StatusMenu::publish() {
    if (mTray) mTray->setMenu(mEntries);
}

void StatusMenu::setEntry(Entry entry, const std::string& title, bool enabled) {
    mEntries[entry].mLabel = title;
    mEntries[entry].mEnabled = enabled;
}

void StatusMenu::update(int32_t state) {
    switch (state) {
        case kAgentStateIdle:
            setEntry(kCaptureEntry, text("TROVD_STARTCAPTURE_ID", "Start Auto Music Capture"), true);
            setEntry(kStatusLine, text("TROVD_STATUSMENU_ID", "Status: Idle"), false);
            break;
        case kAgentStateCapturing:
            setEntry(kCaptureEntry, text("TROVD_STARTCAPTURE_ID", "Stop Auto Music Capture"), true);
            setEntry(kStatusLine, text("TROVD_STATUSMENU_ID", "Status: Capturing"), false);
            break;
        case kAgentStateProcessing:
            mEntries[kCaptureEntry].mEnabled = false;
            setEntry(kStatusLine, text("TROVD_PROCESSTRACKS_ID", "Processing Tracks..."), false);
            break;
        default: return;
    }
    publish();
}

void StatusMenu::showRunningTime(double elapsed) {
    const std::string time = ZORTimeFormatter::numericStringForUInt32ValueInSeconds(wholeSeconds(elapsed), 0, true);
    setEntry(kStatusLine, text("TROVD_STATUSMENU_ID", ("Status: Capturing [" + time + "]").c_str()), false);
    publish();
}

void StatusMenu::showDeviceMissing() {
    mEntries[kCaptureEntry].mEnabled = false;
    setEntry(kStatusLine, text("TROVD_STATUSMENU_ID", "DRIVER NOT INSTALLED"), false);
    publish();
}

void StatusMenu::showIcon(bool record) {
    if (mTray) mTray->setIcon(record ? mRecordIcon : mIdleIcon);
}

platform::Status StatusMenu::click(size_t index) {
    if (index >= mEntries.size() || mEntries[index].mSeparator)
        return platform::Status::failure("the menu has no entry " + std::to_string(index + 1));
    if (!mEntries[index].mEnabled)
        return platform::Status::failure("\"" + mEntries[index].mLabel + "\" is not enabled now");
    const auto& action = index == kOpenEntry ? mActions.mLaunchTROVApp : mActions.mToggleCaptureState;
    if (action) action();
    return platform::Status::success();
}
