#include "agent/AppController.h"

#include "agent/AvailabilityCheck.h"
#include "agent/CaptureControl.h"
#include "agent/SlicePipeline.h"
#include "agent/StatusMenu.h"
#include "agent/TROVDMessages.h"
#include "messaging/TROVMessage.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/PropertyList.h"
#include "platform/ServiceNames.h"
#include "platform/Workspace.h"
#include "segmentation/AudioSlice.h"
#include "support/PreferenceKeys.h"
#include "support/PreferenceUtilities.h"

#include <sys/stat.h>

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

AppController::AppController()
    : mCaptureControl(std::make_unique<CaptureControl>(*this)),
      mTrackPipeline(std::make_unique<TrackProcessingPipeline>(*this)),
      mSlicePipeline(std::make_unique<SlicePipeline>(*this)) {}

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
    self->mAvailabilityCheck =
        std::make_unique<AvailabilityCheck>([self](bool available) { self->availabilityChecked(available); });
    self->isAvailableTimer =
        MainLoop::shared().addTimer(kAvailabilityInterval, true, [self] { self->updateAvailableTimer(); });
    MainLoop::shared().fireTimer(self->isAvailableTimer);
    return controller;
}

AppController::~AppController() {
    MainLoop::shared().removeSource(isAvailableTimer);
    mMessagePort->setDelegate(nullptr);
    mAlive.reset();
    mAvailabilityCheck.reset();
    mStatusMenu.reset();
    mCaptureControl.reset();  // keeps what the capture recorded
    mTrackPipeline.reset();
    mSlicePipeline.reset();
}

void AppController::postToMain(std::function<void()> work) const {
    MainLoop::shared().performOnMain([alive = mAliveWeak, work = std::move(work)] {
        if (alive.lock()) work();
    });
}

// The check itself runs off the main loop; its answer comes back here.
void AppController::updateAvailableTimer() {
    if (mAvailabilityCheck) mAvailabilityCheck->check();
}

void AppController::availabilityChecked(bool available) {
    if (available) {
        updateMenuStatus();
    } else {
        showCaptureDeviceMissing();
    }
}

std::optional<std::string> AppController::HandleMachMessage(const TROVMessage& message) {
    auto reply = TROVMessage::initWithRemoteMessagePort(message.messagePort());
    int32_t code = 0;  // no "msgID": not a command
    message.getValueSInt32(kTROVDMessageIDKey, code);
    if (code == kTROVDMessage_Quit && mState == kAgentStateIdle) {
        quitTROVD();
        return std::nullopt;
    }
    dispatch(code, message, *reply);
    return reply->flatten();
}

void AppController::dispatch(int32_t code, const TROVMessage& message, TROVMessage& reply) {
    switch (code) {
        case kTROVDMessage_Quit: break;  // only when idle
        case kTROVDMessage_ProcessFile:
            if (std::string path; message.getValueNSString(kTROVDPathKey, path)) answer(processFileWithPath(path), reply);
            break;
        case kTROVDMessage_RequestTelemetry: fillTelemetry(reply); break;
        case kTROVDMessage_RequestReport: fillReport(reply); break;
        case kTROVDMessage_RequestMenu: fillMenu(reply); break;
        case kTROVDMessage_ClickMenu: answer(clickMenu(message), reply); break;
        case kTROVDMessage_SetMenuVisible: setMenuVisible(message); break;
        case kTROVDMessage_SetSilenceParameters: setSilenceParameters(message); break;
        case kTROVDMessage_SetRecordingTimeLimit: setRecordingTimeLimit(message); break;
        case kTROVDMessage_StopSystemCapture: answer(stopSystemCapture(), reply); break;
        case kTROVDMessage_StartSystemCapture: answer(startSystemCapture(), reply); break;
        default: Log::info("unknown message received"); break;
    }
}

void AppController::answer(const platform::Status& status, TROVMessage& reply) {
    if (!status) reply.setValueWithNSString(kTROVDErrorKey, status.message());
}

void AppController::answer(const platform::Result<int32_t>& run, TROVMessage& reply) {
    if (run) {
        reply.setValueWithSInt32(kTROVDRunKey, *run);
    } else {
        answer(run.status(), reply);
    }
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

void AppController::fillReport(TROVMessage& reply) {
    const TrackProcessingPipeline::Parameters parameters = processingParameters();
    const double limit = captureRunning() ? mCaptureControl->timeLimitSeconds() : nextTimeLimit().mSeconds;
    reply.setValueWithSInt32(kTROVDMessageIDKey, kTROVDMessage_Report);
    reply.setValueWithFloat32(kTROVDSilenceThresholdKey, parameters.mSilenceThreshold);
    reply.setValueWithFloat32(kTROVDLengthOfSilenceKey, parameters.mLengthOfSilence);
    reply.setValueWithFloat32(kTROVDTimeLimitKey, static_cast<float>(limit));
    reply.setValueWithFloat32(kTROVDMinTrackDurationKey,
                              static_cast<float>(parameters.mMinTrackSeconds > 0 ? parameters.mMinTrackSeconds : 30));
    mReport.fill(reply);
}

CaptureControl::TimeLimit AppController::nextTimeLimit() const {
    auto& defaults = platform::UserDefaults::standard();
    return CaptureControl::captureTimeLimit(maxRecordingMins, defaults.integerForKey(ZORAutoCaptureDurationKey),
                                            defaults.integerForKey(ZORAutoCaptureDurationUnitsKey));
}

TrackProcessingPipeline::Parameters AppController::processingParameters() const {
    auto& defaults = platform::UserDefaults::standard();
    TrackProcessingPipeline::Parameters parameters;
    parameters.mSilenceThreshold = silenceThresholdReceived
        ? silenceThreshold : static_cast<float>(defaults.floatForKey(ZORNewAutoDefineSensitivityKey));
    parameters.mLengthOfSilence = lengthOfSilenceReceived
        ? lengthOfSilence : static_cast<float>(defaults.floatForKey(ZORAutoDefineMinSilenceLengthKey)) / 1000.0f;
    parameters.mMinTrackSeconds = defaults.integerForKey(ZORAutoDefineMinTrackDurationKey);
    return parameters;
}

// The editor's values rule for the rest of this run of the agent: a peer
// that sets them expects the next capture to use them.
void AppController::setSilenceParameters(const TROVMessage& message) {
    silenceThresholdReceived |= message.getValueFloat32(kTROVDSilenceThresholdKey, silenceThreshold);
    lengthOfSilenceReceived |= message.getValueFloat32(kTROVDLengthOfSilenceKey, lengthOfSilence);
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

bool AppController::captureRunning() const { return mCaptureControl->isCapturing(); }

// One writer of the scratch recording at a time: a capture, or an import,
// or a run reading it.
platform::Status AppController::refuseWhileBusy() const {
    if (captureRunning()) return platform::Status::failure("a capture is running; stop it first");
    if (mTrackPipeline->isRunning())
        return platform::Status::failure("processing run " + std::to_string(mReport.runNumber()) +
                                         " is under way; try again when the agent is idle");
    if (mState != kAgentStateIdle) return platform::Status::failure("the agent is busy; try again when it is idle");
    return platform::Status::success();
}

platform::Status AppController::startSystemCapture() {
    if (platform::Status busy = refuseWhileBusy(); !busy) {
        Log::info("startSystemCapture: refused, %s", busy.message().c_str());
        return busy;
    }
    const TrackProcessingPipeline::Parameters parameters = processingParameters();
    platform::Status started = mCaptureControl->startSystemCapture(parameters.mSilenceThreshold,
                                                                   parameters.mLengthOfSilence, nextTimeLimit());
    if (!started) return started;
    mState = kAgentStateCapturing;
    updateMenuStatus();
    startIntervalForRecording = platform::absoluteTime();
    return started;
}

void AppController::captureStartFailed() {
    mState = kAgentStateIdle;
    updateMenuStatus();
}

platform::Result<int32_t> AppController::stopSystemCapture() {
    Log::info("stopSystemCapture");
    if (!captureRunning()) return processLastRecording();
    platform::Result<int32_t> run = mTrackPipeline->beginRun(platform::scratchRecordingPath());
    if (!run) return run;
    platform::Status stopping = mCaptureControl->stopSystemCapture(
        [this](const platform::Status& recording, int64_t frames) { recordingStopped(recording, frames); });
    if (!stopping) {
        mTrackPipeline->abandonRun(stopping.message());
        return stopping;
    }
    updateMenuStatus();
    return run;
}

void AppController::recordingStopped(const platform::Status& recording, int64_t frames) {
    if (frames == 0) {
        mTrackPipeline->abandonRun("nothing was recorded" + (recording ? "" : ": " + recording.message()));
        return;
    }
    if (!recording) Log::warning("processing what was recorded: %s", recording.message().c_str());
    mTrackPipeline->processTracks(platform::scratchRecordingPath(), processingParameters());
}

// A stop while idle processes the last capture's recording again.
platform::Result<int32_t> AppController::processLastRecording() {
    if (platform::Status busy = refuseWhileBusy(); !busy) return busy;
    const std::string path = platform::scratchRecordingPath();
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return platform::Status::failure("there is no recording to process: no capture has been made (" + path +
                                         " does not exist)");
    platform::Result<int32_t> run = mTrackPipeline->beginRun(path);
    if (run) mTrackPipeline->processTracks(path, processingParameters());
    return run;
}

platform::Result<int32_t> AppController::processFileWithPath(const std::string& path) {
    if (platform::Status busy = refuseWhileBusy(); !busy) {
        Log::info("processFileWithPath: refused, %s", busy.message().c_str());
        return busy;
    }
    platform::Result<int32_t> run = mTrackPipeline->beginRun(path);
    if (!run) return run;
    mState = kAgentStateCapturing;
    updateMenuStatus();
    mTrackPipeline->processFileWithPath(path, processingParameters());
    return run;
}

void AppController::processTracksDone() {
    Log::info("_processTracksDone");
    mState = kAgentStateIdle;
    updateMenuStatus();
    if (mStatusMenu) mStatusMenu->showIcon(false);
    setProcessingTracks(0, 0);
}

platform::Status AppController::processSlices() {
    if (platform::Status busy = refuseWhileBusy(); !busy) return busy;
    return mSlicePipeline->processSlices(mCaptureControl->audioSegmentTree(), processingParameters().mMinTrackSeconds);
}

void AppController::processSlicesDone() {
    mState = kAgentStateIdle;
    updateMenuStatus();
    if (mStatusMenu) mStatusMenu->showIcon(false);
    setProcessingTracks(0, 0);
}

std::optional<ZORTrackMetaDataManager::MatchList> AppController::matchSlice(const AudioSlice& slice) {
    // Truncated toward zero: a slice of less than one frame reads nothing.
    const auto start = static_cast<int64_t>(slice.startTime());
    const auto length = static_cast<int64_t>(slice.endTime() - slice.startTime());
    return ZORTrackMetaDataManager::matchRecording(platform::scratchRecordingPath(), start, length);
}

void AppController::activateStatusMenu() {
    StatusMenu::Actions actions{[this] { launchTROVApp(); }, [this] { toggleCaptureState(); }};
    mStatusMenu = std::make_unique<StatusMenu>(trovAppBundle, std::move(actions));
}

void AppController::removeStatusItem() { mStatusMenu.reset(); }

void AppController::updateMenuStatus() {
    if (mStatusMenu) mStatusMenu->update(mState);
}

void AppController::updateMenuTimer() {
    if (mStatusMenu) mStatusMenu->showRunningTime(platform::absoluteTime() - startIntervalForRecording);
}

void AppController::updateStatusBlinkTimer() {
    if (mStatusMenu) mStatusMenu->showIcon(isRecordIconShowing);
    isRecordIconShowing = !isRecordIconShowing;
}

void AppController::showCaptureDeviceMissing() {
    if (mStatusMenu) mStatusMenu->showDeviceMissing();
}

void AppController::launchTROVApp() {
    const std::string editor = platform::Workspace::editorIdentifier();
    if (!platform::Workspace::launchApplication(editor)) Log::warning("the editor %s could not be opened", editor.c_str());
}

void AppController::toggleCaptureState() {
    if (mState == kAgentStateCapturing) {
        if (auto run = stopSystemCapture(); !run) Log::warning("stop from the menu: %s", run.message().c_str());
    } else if (platform::Status started = startSystemCapture(); !started) {
        Log::warning("start from the menu: %s", started.message().c_str());
    }
}

void AppController::fillMenu(TROVMessage& reply) const {
    if (!mStatusMenu) {
        reply.setValueWithNSString(kTROVDErrorKey, "the status menu is hidden; show it with `trovarioctl menu show`");
        return;
    }
    platform::PropertyList entries = platform::PropertyList::array();
    for (const auto& entry : mStatusMenu->entries()) {
        platform::PropertyList item = platform::PropertyList::dictionary();
        item.set(kTROVDMenuTitleKey, platform::PropertyList::string(entry.mLabel));
        item.set(kTROVDMenuEnabledKey, platform::PropertyList::boolean(entry.mEnabled));
        item.set(kTROVDMenuSeparatorKey, platform::PropertyList::boolean(entry.mSeparator));
        entries.append(std::move(item));
    }
    reply.setValueWithCFType(kTROVDMenuEntriesKey, entries);
}

platform::Status AppController::clickMenu(const TROVMessage& message) {
    int32_t index = -1;
    if (!message.getValueSInt32(kTROVDMenuEntryKey, index) || index < 0)
        return platform::Status::failure("'cMnu' names no entry (\"entry\", from 0)");
    if (!mStatusMenu) return platform::Status::failure("the status menu is hidden; show it with `trovarioctl menu show`");
    return mStatusMenu->click(static_cast<size_t>(index));
}

void AppController::quitTROVD() {
    Log::info("quitTROVD: ending on the editor's request");
    MainLoop::shared().quit();
}
