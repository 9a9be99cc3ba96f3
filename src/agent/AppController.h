#pragma once

#include "agent/CaptureControl.h"
#include "agent/ProcessingReport.h"
#include "agent/TrackProcessingPipeline.h"
#include "messaging/TROVLocalMessagePort.h"
#include "platform/Bundle.h"
#include "platform/MainLoop.h"
#include "platform/Result.h"
#include "tracks/ZORTrackMetaDataManager.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class AudioSegmentTree;
class AudioSlice;
class AvailabilityCheck;
class SlicePipeline;
class StatusMenu;
class TROVMessage;

// The agent's one controller: its state, its command port and the commands
// the editor sends. Lives until the process ends; everything here runs on
// the main loop, but for the members marked as safe from any thread. Its
// jobs are done by collaborators it owns: capture control, the track and
// slice pipelines and the availability check.
class AppController final : public TROVMessageHandler {
public:
    // The ready controller. Its port has no run-loop source when the
    // agent's name was taken (see `messagePort`).
    static std::shared_ptr<AppController> init();
    ~AppController();
    AppController(const AppController&) = delete;
    AppController& operator=(const AppController&) = delete;

    std::optional<std::string> HandleMachMessage(const TROVMessage& message) override;
    void updateAvailableTimer();

    // Each says why when it was refused or could not be carried out.
    platform::Status startSystemCapture();
    // The number of the processing run that will take the recording.
    platform::Result<int32_t> stopSystemCapture();
    platform::Result<int32_t> processFileWithPath(const std::string& path);
    platform::Status processSlices();
    void activateStatusMenu();
    void removeStatusItem();
    void updateMenuStatus();
    void updateMenuTimer();
    void updateStatusBlinkTimer();
    void launchTROVApp();
    void toggleCaptureState();
    void quitTROVD();

    // What the collaborators report back, on the main loop.
    void captureStartFailed();
    void processTracksDone();
    void processSlicesDone();
    void setStartIntervalForRecording(double clockTime) { startIntervalForRecording = clockTime; }
    void setRecordIconShowing(bool showing) { isRecordIconShowing = showing; }

    // Runs `work` on the main loop, unless the controller is gone by then.
    // Any thread.
    void postToMain(std::function<void()> work) const;
    // Any thread.
    ProcessingReport& report() { return mReport; }

    // Identifies a slice of the scratch recording, reading no further than
    // its end; nothing when the service did not decide within it. Uses no
    // state of the controller, so any thread may call it.
    static std::optional<ZORTrackMetaDataManager::MatchList> matchSlice(const AudioSlice& slice);

    const std::shared_ptr<TROVLocalMessagePort>& messagePort() const { return mMessagePort; }

    // Written by the main loop and by the processing worker; read anywhere.
    int32_t state() const { return mState.load(); }
    void setState(int32_t state) { mState.store(state); }
    void setProcessingTracks(uint32_t current, uint32_t total);

    float storedSilenceThreshold() const { return silenceThreshold; }
    float storedLengthOfSilence() const { return lengthOfSilence; }
    int32_t storedMaxRecordingMins() const { return maxRecordingMins; }
    bool isStatusMenuVisible() const { return statusMenuVisible; }
    // The parameters captures and processing use: those the editor sent,
    // else the preferences.
    TrackProcessingPipeline::Parameters processingParameters() const;

private:
    AppController();

    void dispatch(int32_t code, const TROVMessage& message, TROVMessage& reply);
    static void answer(const platform::Status& status, TROVMessage& reply);
    static void answer(const platform::Result<int32_t>& run, TROVMessage& reply);
    void fillTelemetry(TROVMessage& reply) const;
    void fillReport(TROVMessage& reply);
    void fillMenu(TROVMessage& reply) const;
    platform::Status clickMenu(const TROVMessage& message);
    void setSilenceParameters(const TROVMessage& message);
    void setRecordingTimeLimit(const TROVMessage& message);
    void setMenuVisible(const TROVMessage& message);
    void showCaptureDeviceMissing();
    void availabilityChecked(bool available);
    void recordingStopped(const platform::Status& recording, int64_t frames);
    platform::Result<int32_t> processLastRecording();
    platform::Status refuseWhileBusy() const;
    // The limit a capture started now would have.
    CaptureControl::TimeLimit nextTimeLimit() const;
    bool captureRunning() const;

    std::shared_ptr<bool> mAlive = std::make_shared<bool>(true);  // posted work checks it
    const std::weak_ptr<bool> mAliveWeak = mAlive;                 // what the workers read
    ProcessingReport mReport;
    std::unique_ptr<CaptureControl> mCaptureControl;
    std::unique_ptr<TrackProcessingPipeline> mTrackPipeline;
    std::unique_ptr<SlicePipeline> mSlicePipeline;
    std::unique_ptr<AvailabilityCheck> mAvailabilityCheck;
    std::unique_ptr<StatusMenu> mStatusMenu;  // while shown
    std::atomic<int32_t> mState{0};
    std::shared_ptr<TROVLocalMessagePort> mMessagePort;
    std::shared_ptr<platform::Bundle> trovAppBundle;
    bool statusMenuVisible = false;
    float silenceThreshold = 0.001f;
    float lengthOfSilence = 0.25f;
    bool silenceThresholdReceived = false;
    bool lengthOfSilenceReceived = false;
    bool isRecordIconShowing = false;
    int32_t maxRecordingMins = 0;
    double startIntervalForRecording = 0;
    std::atomic<uint32_t> processingCurrentTrack{0};
    std::atomic<uint32_t> processingTotalTracks{0};
    platform::MainLoop::SourceId isAvailableTimer = 0;
};
