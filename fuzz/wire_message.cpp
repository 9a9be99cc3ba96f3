// Bytes from any peer of the agent's port, through the controller's dispatch.
// Commands that start a capture, a processing run, the tray item (whose menu
// starts captures) or the agent's end are turned into telemetry requests:
// they would start work that outlives the input rather than parse it.

#include "agent/AppController.h"
#include "agent/TROVDMessages.h"
#include "fuzz/FuzzSupport.h"
#include "messaging/TROVMessage.h"
#include "platform/Log.h"

namespace {

bool startsWork(int32_t code) {
    return code == kTROVDMessage_StartSystemCapture || code == kTROVDMessage_StopSystemCapture ||
           code == kTROVDMessage_ProcessFile || code == kTROVDMessage_Quit || code == kTROVDMessage_SetMenuVisible;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::scratchHome();
    platform::Log::open("fuzz-wire-message", {.mSystemLog = false, .mForeground = false, .mVerbose = false});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::shared_ptr<AppController> controller = AppController::init();
    auto message = TROVMessage::initWithData(std::string(fuzz::bytesOf(data, size)));
    int32_t code = 0;
    if (message->getValueSInt32(kTROVDMessageIDKey, code) && startsWork(code))
        message->setValueWithSInt32(kTROVDMessageIDKey, kTROVDMessage_RequestTelemetry);
    const std::optional<std::string> reply = controller->HandleMachMessage(*message);
    if (!reply || !TROVMessage::unflatten(reply)) fuzz::violation("every command gets a reply that reads back");
    return 0;
}
