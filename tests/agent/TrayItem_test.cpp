// The agent's tray item as a desktop's tray host sees it (through gdbus), on
// a private session bus. Not under ThreadSanitizer: GLib's allocator, which
// GDBus's own thread uses, is not instrumented.
#include "agent/AppController.h"
#include "agent/TROVDMessages.h"

#include "../messaging/MessageTestSupport.h"
#include "CommandOutput.h"
#include "TemporaryDirectory.h"

#include <signal.h>

#include <regex>

using namespace msgtest;

namespace {

void show(AppController& controller, bool visible) {
    auto message = TROVMessage::initWithData(std::nullopt);
    message->setValueWithSInt32(kTROVDMessageIDKey, kTROVDMessage_SetMenuVisible);
    message->setValueWithBoolean(kTROVDVisibleKey, visible);
    controller.HandleMachMessage(*message);
}

// `gdbus call` on the session bus, run while the agent serves the item.
std::string host(const std::string& arguments) {
    return whileServing([arguments] { return commandOutput("gdbus call --session " + arguments + " 2>&1"); });
}

}  // namespace

TEST(TrayItem, BlinksAndLeavesTheBusWhenHidden) {
    TemporaryDirectory runtime;
    ScopedEnvironment runtimeVariable{"XDG_RUNTIME_DIR", runtime.path().c_str()};
    const std::string daemon = commandOutput("dbus-daemon --session --fork --print-address=1 --print-pid=1");
    const std::string address = daemon.substr(0, daemon.find('\n'));
    ScopedEnvironment bus{"DBUS_SESSION_BUS_ADDRESS", address.c_str()};
    auto controller = AppController::init();
    show(*controller, true);
    const std::string listNames = "--dest org.freedesktop.DBus --object-path /org/freedesktop/DBus "
                                  "--method org.freedesktop.DBus.ListNames";
    std::smatch item;
    const std::string names = host(listNames);
    ASSERT_TRUE(std::regex_search(names, item, std::regex("org\\.kde\\.StatusNotifierItem-[0-9-]+"))) << names;
    std::string blinks;
    for (int step = 0; step < 3; ++step) {
        controller->updateStatusBlinkTimer();
        blinks += host("--dest " + item.str() + " --object-path /StatusNotifierItem --method "
                       "org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem IconName");
    }
    EXPECT_EQ(blinks, "(<'trovd_idle'>,)\n(<'trovd_record'>,)\n(<'trovd_idle'>,)\n");
    show(*controller, false);
    EXPECT_EQ(host(listNames).find(item.str()), std::string::npos);
    kill(std::stoi(daemon.substr(daemon.find('\n') + 1)), SIGTERM);
}
