#pragma once

#include "messaging/TROVLocalMessagePort.h"
#include "platform/Bundle.h"
#include "platform/MainLoop.h"
#include "tracks/ZORTrackMetaDataManager.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class AudioSlice;
class TROVMessage;

// The agent's one controller: its state, its command port and the commands
// the editor sends. Lives until the process ends; everything here runs on
// the main loop.
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

    void startSystemCapture();
    void stopSystemCapture();
    void processFileWithPath(const std::string& path);
    void activateStatusMenu();
    void removeStatusItem();
    void updateMenuStatus();
    void quitTROVD();

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

private:
    AppController() = default;

    void fillTelemetry(TROVMessage& reply) const;
    void setSilenceParameters(const TROVMessage& message);
    void setRecordingTimeLimit(const TROVMessage& message);
    void setMenuVisible(const TROVMessage& message);
    void showCaptureDeviceMissing();

    std::atomic<int32_t> mState{0};
    std::shared_ptr<TROVLocalMessagePort> mMessagePort;
    std::shared_ptr<platform::Bundle> trovAppBundle;
    bool statusMenuVisible = false;
    float silenceThreshold = 0.001f;
    float lengthOfSilence = 0.25f;
    int32_t maxRecordingMins = 0;
    double startIntervalForRecording = 0;
    std::atomic<uint32_t> processingCurrentTrack{0};
    std::atomic<uint32_t> processingTotalTracks{0};
    platform::MainLoop::SourceId isAvailableTimer = 0;
};
