#include "agent/AppController.h"

#include "AutoCaptureClasses/MySystemCaptureRecorder.h"
#include "agent/TROVDMessages.h"
#include "messaging/TROVMessage.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/ServiceNames.h"
#include "platform/Workspace.h"
#include "segmentation/AudioSlice.h"
#include "support/PreferenceUtilities.h"

using platform::Log;
using platform::MainLoop;

namespace {

constexpr double kAvailabilityInterval = 3.0;

std::shared_ptr<platform::Bundle> editorBundle() {
    const std::string identifier = platform::Workspace::editorIdentifier();
    std::optional<std::string> path = platform::Workspace::absolutePathForAppBundleWithIdentifier(identifier);
    std::shared_ptr<platform::Bundle> bundle = path ? platform::Bundle::bundleWithPath(*path) : nullptr;
    if (!bundle)
        Log::warning("editor application %s not found; the status menu shows its default texts", identifier.c_str());
    return bundle;
}

}  // namespace

std::shared_ptr<AppController> AppController::init() {
    std::shared_ptr<AppController> controller(new AppController());
    AppController* self = controller.get();
    PreferenceUtilities::registerDefaultPreferences();
    self->mMessagePort = TROVLocalMessagePort::initWithName(platform::kAgentServiceName);
    self->mMessagePort->setDelegate(self);
    if (const auto& source = self->mMessagePort->runLoopSource()) source->addToMainLoop();
    self->mState = kAgentStateIdle;
    self->trovAppBundle = editorBundle();
    self->updateMenuStatus();
    self->isAvailableTimer =
        MainLoop::shared().addTimer(kAvailabilityInterval, true, [self] { self->updateAvailableTimer(); });
    MainLoop::shared().fireTimer(self->isAvailableTimer);
    return controller;
}

AppController::~AppController() {
    MainLoop::shared().removeSource(isAvailableTimer);
    mMessagePort->setDelegate(nullptr);
}

void AppController::updateAvailableTimer() {
    if (MySystemCaptureRecorder::isAvailable()) {
        updateMenuStatus();
    } else {
        showCaptureDeviceMissing();
    }
}

std::optional<std::string> AppController::HandleMachMessage(const TROVMessage& message) {
    auto reply = TROVMessage::initWithRemoteMessagePort(message.messagePort());
    int32_t code = 0;  // no "msgID": not a command
    message.getValueSInt32(kTROVDMessageIDKey, code);
    switch (code) {
        case kTROVDMessage_Quit:
            if (mState == kAgentStateIdle) {
                quitTROVD();
                return std::nullopt;
            }
            break;
        case kTROVDMessage_ProcessFile:
            if (std::string path; message.getValueNSString(kTROVDPathKey, path)) processFileWithPath(path);
            break;
        case kTROVDMessage_RequestTelemetry: fillTelemetry(*reply); break;
        case kTROVDMessage_SetMenuVisible: setMenuVisible(message); break;
        case kTROVDMessage_SetSilenceParameters: setSilenceParameters(message); break;
        case kTROVDMessage_SetRecordingTimeLimit: setRecordingTimeLimit(message); break;
        case kTROVDMessage_StopSystemCapture: stopSystemCapture(); break;
        case kTROVDMessage_StartSystemCapture: startSystemCapture(); break;
        default: Log::info("unknown message received"); break;
    }
    return reply->flatten();
}

void AppController::fillTelemetry(TROVMessage& reply) const {
    const int32_t state = mState;  // one reading, so the counters match the state reported
    reply.setValueWithSInt32(kTROVDMessageIDKey, kTROVDMessage_Telemetry);
    reply.setValueWithBoolean(kTROVDCaptureKey, true);
    reply.setValueWithSInt32(kTROVDStateKey, state);
    reply.setValueWithFloat32(kTROVDStartTimeKey, static_cast<float>(platform::absoluteTime() - startIntervalForRecording));
    if (state == kAgentStateProcessing) {
        reply.setValueWithSInt32(kTROVDCurrentTrackKey, static_cast<int32_t>(processingCurrentTrack.load()));
        reply.setValueWithSInt32(kTROVDTotalTracksKey, static_cast<int32_t>(processingTotalTracks.load()));
    }
}

void AppController::setSilenceParameters(const TROVMessage& message) {
    message.getValueFloat32(kTROVDSilenceThresholdKey, silenceThreshold);
    message.getValueFloat32(kTROVDLengthOfSilenceKey, lengthOfSilence);
    Log::info("kTROVDMessage_SetSilenceParameters %f %f", silenceThreshold, lengthOfSilence);
}

void AppController::setRecordingTimeLimit(const TROVMessage& message) {
    message.getValueSInt32(kTROVDTimeoutKey, maxRecordingMins);
    Log::info("kTROVDMessage_SetRecordingTimeLimit %d", maxRecordingMins);
}

void AppController::setMenuVisible(const TROVMessage& message) {
    bool visible = false;
    if (!message.getValueBoolean(kTROVDVisibleKey, visible)) return;
    if (visible && !statusMenuVisible) activateStatusMenu();
    if (!visible && statusMenuVisible) removeStatusItem();
    statusMenuVisible = visible;
}

void AppController::setProcessingTracks(uint32_t current, uint32_t total) {
    processingCurrentTrack = current;
    processingTotalTracks = total;
}

// Capture, file processing and the status menu come with their own modules;
// until then each operation says so in the log and changes nothing.
void AppController::startSystemCapture() {
    Log::warning("startSystemCapture: system capture is not part of this build yet; nothing recorded");
}

void AppController::stopSystemCapture() { Log::info("stopSystemCapture"); }

void AppController::processFileWithPath(const std::string& path) {
    Log::warning("processFileWithPath: file processing is not part of this build yet; %s not processed", path.c_str());
}

std::optional<ZORTrackMetaDataManager::MatchList> AppController::matchSlice(const AudioSlice& slice) {
    // Truncated toward zero: a slice of less than one frame reads nothing.
    const auto start = static_cast<int64_t>(slice.startTime());
    const auto length = static_cast<int64_t>(slice.endTime() - slice.startTime());
    return ZORTrackMetaDataManager::matchRecording(platform::scratchRecordingPath(), start, length);
}

void AppController::activateStatusMenu() {
    Log::info("activateStatusMenu: the status menu is not part of this build yet; nothing shown");
}

void AppController::removeStatusItem() {
    Log::info("removeStatusItem: the status menu is not part of this build yet; nothing to hide");
}

// The entries exist only once the status menu has been built; before that
// there is nothing to set.
void AppController::updateMenuStatus() {}

void AppController::showCaptureDeviceMissing() {}

void AppController::quitTROVD() {
    Log::info("quitTROVD: ending on the editor's request");
    MainLoop::shared().quit();
}
