#pragma once

#include "agent/ProcessingReport.h"
#include "platform/Result.h"
#include "tracks/ZORTrackAutoDefiner.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class AppController;
class ITunesHandOff;
class TrackExporter;
class ZORMusicMetaData;
class ZORTrackMetaDataManager;

// Turns a recording into delivered tracks on a worker thread: cuts it into
// tracks, identifies each one, exports it and hands it over, and hands a
// recording that is one unidentified track to the editor instead. One run at
// a time; the controller begins a run, then hands it a recording or a file.
class TrackProcessingPipeline {
public:
    using Tracks = ZORTrackAutoDefiner::Tracks;

    struct Parameters {
        float mSilenceThreshold = 0;  // linear amplitude
        float mLengthOfSilence = 0;   // seconds
        int64_t mMinTrackSeconds = 0;  // 0: 30 seconds
    };

    explicit TrackProcessingPipeline(AppController& controller);
    // Lets the run finish the track it is on, then waits for it.
    ~TrackProcessingPipeline();
    TrackProcessingPipeline(const TrackProcessingPipeline&) = delete;
    TrackProcessingPipeline& operator=(const TrackProcessingPipeline&) = delete;

    // Reserves the next run; refused while one is under way. Main loop only,
    // as are the three below.
    platform::Result<int32_t> beginRun(const std::string& source);
    // Starts the begun run on the recording at `path`.
    void processTracks(const std::string& path, const Parameters& parameters);
    // Starts the begun run: `path` is imported into the scratch recording,
    // which is then processed.
    void processFileWithPath(const std::string& path, const Parameters& parameters);
    // Ends the begun run without processing anything.
    void abandonRun(const std::string& why);
    bool isRunning() const;

    // Cuts the recording into tracks no shorter than the minimum duration;
    // nothing when it cannot be read.
    std::optional<Tracks> autoDefineTracks(const std::string& path, const Parameters& parameters);
    // Merges candidates shorter than `minFrames` into the next that passes;
    // what is left pending at the end becomes a last track up to `length`.
    static Tracks applyMinimumTrackDuration(const Tracks& candidates, uint32_t minFrames, int64_t length);
    // What identification found, copied into the track.
    static void copyMetadata(const ZORMusicMetaData& metadata, TROVTrack& track);

private:
    void startWorker(std::function<void()> work);
    void processRecording(const std::string& path, const Parameters& parameters);
    // False when the run ends here (the recording went to the editor).
    bool processTrack(const ZORTrackMetaDataManager& manager, TROVTrack& track, uint32_t index, uint32_t count,
                      TrackExporter& exporter);
    void deliver(TROVTrack& track, uint32_t index, const std::string& path, TrackExporter& exporter);
    void openInEditor(const std::string& path, const char* reasonFormat);
    void finish();

    AppController& mController;
    std::thread mWorker;
    std::atomic<bool> mCancelled{false};
    bool mRunBegun = false;  // main loop
};
