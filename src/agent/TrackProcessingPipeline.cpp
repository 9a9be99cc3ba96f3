#include "agent/TrackProcessingPipeline.h"

#include "agent/AppController.h"
#include "agent/ITunesHandOff.h"
#include "agent/TROVDMessages.h"
#include "agent/TrackExporter.h"
#include "frameworks/ZORExtAudioFile.h"
#include "platform/Log.h"
#include "platform/MainLoop.h"
#include "platform/Paths.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "segmentation/AudioFileImporter.h"
#include "tracks/ZORTrackMetaDataManager.h"

#include <malloc.h>
#include <cstdio>

using platform::Log;

namespace {

constexpr uint32_t kDefaultMinTrackSeconds = 30;

ZORAudioTrackInfo::Text textOrNothing(const std::string& text) {
    return text.empty() ? ZORAudioTrackInfo::Text() : ZORAudioTrackInfo::Text(text);
}

std::shared_ptr<TROVTrack> makeTrack(uint32_t number, const std::string& name, int64_t start, int64_t stop) {
    auto track = TROVTrack::initWithNum(number, name);
    if (!track) return nullptr;
    track->setStartTime(start);
    track->setStopTime(stop);
    return track;
}

std::string tracksDescription(const TrackProcessingPipeline::Tracks& tracks) {
    std::string text = "(";
    for (const auto& track : tracks) text += "\n    " + track->description() + ",";
    return text + "\n)";
}

}  // namespace

TrackProcessingPipeline::TrackProcessingPipeline(AppController& controller) : mController(controller) {}

TrackProcessingPipeline::~TrackProcessingPipeline() {
    mCancelled = true;
    if (mWorker.joinable()) mWorker.join();
}

platform::Result<int32_t> TrackProcessingPipeline::beginRun(const std::string& source) {
    if (mRunBegun)
        return platform::Status::failure("processing run " + std::to_string(mController.report().runNumber()) +
                                         " is under way; try again when the agent is idle");
    if (mWorker.joinable()) mWorker.join();  // the last run's worker ends as it posts its end
    mRunBegun = true;
    return mController.report().beginRun(source);
}

bool TrackProcessingPipeline::isRunning() const { return mRunBegun; }

void TrackProcessingPipeline::startWorker(std::function<void()> work) {
    mWorker = std::thread([this, work = std::move(work)] {
        work();
        mController.postToMain([this] { finish(); });
    });
}

void TrackProcessingPipeline::processTracks(const std::string& path, const Parameters& parameters) {
    startWorker([this, path, parameters] { processRecording(path, parameters); });
}

void TrackProcessingPipeline::processFileWithPath(const std::string& path, const Parameters& parameters) {
    startWorker([this, path, parameters] {
        AudioFileImporter importer;
        importer.setScratchAudioFilePath(platform::scratchRecordingPath());
        importer.setSilenceThreshold(parameters.mSilenceThreshold);
        importer.setLengthOfSilence(parameters.mLengthOfSilence);
        const platform::Status imported = importer.importFileWithPath(path);
        if (!imported) {
            Log::error("processFileWithPath: %s", imported.message().c_str());
            mController.report().failRun(imported.message());
            return;
        }
        processRecording(platform::scratchRecordingPath(), parameters);
    });
}

void TrackProcessingPipeline::abandonRun(const std::string& why) {
    mController.report().failRun(why);
    finish();
}

// Back on the main loop, however the run ended. The run's workers allocated
// in arenas of their own; what they freed goes back to the system, so that an
// agent left running for days keeps its idle footprint.
void TrackProcessingPipeline::finish() {
    mRunBegun = false;
    mController.report().endRun();
    mController.processTracksDone();
    malloc_trim(0);
}

void TrackProcessingPipeline::processRecording(const std::string& path, const Parameters& parameters) {
    std::optional<Tracks> tracks = autoDefineTracks(path, parameters);
    if (!tracks) {
        mController.report().failRun("the recording " + path + " could not be read");
        openInEditor(path, "open scratch file1 %s");
        return;
    }
    Log::info("post-define tracks: %s", tracksDescription(*tracks).c_str());
    for (const auto& track : *tracks) Log::info("track duration: %ld", static_cast<long>(track->duration()));
    mController.setState(kAgentStateProcessing);
    mController.postToMain([this] { mController.updateMenuStatus(); });
    const auto manager = ZORTrackMetaDataManager::initWithFilePath(path);
    ITunesHandOff handOff(platform::UserDefaults::standard());
    TrackExporter exporter({[&](const std::string& file, const TROVTrack& track) {
                                return handOff.addTrackToITunesWithFile(file, track);
                            },
                            {}},
                           path);
    const auto count = static_cast<uint32_t>(tracks->size());
    for (uint32_t i = 0; i < count && !mCancelled; ++i)
        if (!processTrack(*manager, *(*tracks)[i], i, count, exporter)) return;
}

bool TrackProcessingPipeline::processTrack(const ZORTrackMetaDataManager& manager, TROVTrack& track, uint32_t index,
                                           uint32_t count, TrackExporter& exporter) {
    mController.setProcessingTracks(index, count);
    track.clearAdditionalIDTracks();
    const std::optional<ZORTrackMetaDataManager::MatchList> matches = manager.matchTrack(track);
    // No answer, an empty one and one without metadata all mean the track is
    // unknown: it is still delivered, so no captured song goes missing.
    const bool identified = matches && !matches->empty() && matches->front()->musicMetaData();
    if (!identified && count == 1) {
        openInEditor(manager.filePath(), !matches ? "open scratch file2 %s"
                                         : matches->empty() ? "open scratch file3 %s" : "open scratch file4 %s");
        return false;
    }
    if (!identified) {
        deliver(track, index, TrackExporter::exportPathFor(std::to_string(index) + ") Unknown Track"), exporter);
        return true;
    }
    copyMetadata(*matches->front()->musicMetaData(), track);
    deliver(track, index, TrackExporter::exportPathFor(track.trackName().value_or("")), exporter);
    return true;
}

void TrackProcessingPipeline::deliver(TROVTrack& track, uint32_t index, const std::string& path,
                                      TrackExporter& exporter) {
    const TrackExporter::Delivered delivered = exporter.exportTrack(track, path);
    ProcessingReport::Delivery entry;
    entry.mTrack = static_cast<int32_t>(index);
    entry.mTitle = track.trackName().value_or("Unknown Track");
    entry.mDelivered = delivered.ok();
    entry.mWhere = delivered ? *delivered : path;
    if (!delivered) entry.mProblem = delivered.message();
    mController.report().addDelivery(std::move(entry));
}

void TrackProcessingPipeline::openInEditor(const std::string& path, const char* reasonFormat) {
    Log::info(reasonFormat, ("file://" + path).c_str());
    const std::string editor = platform::Workspace::editorIdentifier();
    ProcessingReport::Delivery entry;
    entry.mTitle = "the whole recording, not identified";
    entry.mDelivered = true;
    entry.mWhere = "opened in the editor " + editor + ": " + path;
    mController.report().addDelivery(std::move(entry));
    mController.postToMain([path, editor] {
        if (!platform::Workspace::openFile(path, editor))
            Log::error("the recording %s could not be opened in the editor %s", path.c_str(), editor.c_str());
    });
}

std::optional<TrackProcessingPipeline::Tracks> TrackProcessingPipeline::autoDefineTracks(const std::string& path,
                                                                                        const Parameters& parameters) {
    auto reader = ZORExtAudioFile::initForReading(path);
    if (int32_t status = reader->open()) {
        fprintf(stderr, "failed to open trov scratch file (%d)\n", static_cast<int>(status));
        return std::nullopt;
    }
    const double rate = reader->fileStreamFormat().mSampleRate;
    const int64_t length = reader->lengthInFrames();
    ZORTrackAutoDefiner definer;
    std::optional<Tracks> candidates = definer.autoDefineTracksInFile(
        path, static_cast<uint32_t>(length), parameters.mSilenceThreshold, parameters.mLengthOfSilence);
    reader->close();
    if (!candidates) return std::nullopt;
    auto minFrames = static_cast<uint32_t>(static_cast<double>(parameters.mMinTrackSeconds) * rate);
    if (minFrames == 0) minFrames = static_cast<uint32_t>(rate * kDefaultMinTrackSeconds);
    Tracks tracks = applyMinimumTrackDuration(*candidates, minFrames, length);
    mController.setProcessingTracks(0, static_cast<uint32_t>(tracks.size()));
    mController.report().setTracksFound(static_cast<int32_t>(tracks.size()));
    return tracks;
}

TrackProcessingPipeline::Tracks TrackProcessingPipeline::applyMinimumTrackDuration(const Tracks& candidates,
                                                                                  uint32_t minFrames, int64_t length) {
    Tracks tracks;
    std::optional<uint32_t> pending;
    for (size_t i = 0; i < candidates.size(); ++i) {
        const TROVTrack& candidate = *candidates[i];
        const int64_t start = pending ? *pending : candidate.startTime();
        const int64_t duration = candidate.stopTime() - start;
        if (duration > minFrames) {
            Log::info("minTrackDuration %d %ld\n", static_cast<int>(minFrames), static_cast<long>(duration));
            const std::string name = "Auto Capture Track " + std::to_string(i);
            auto track = makeTrack(static_cast<uint32_t>(i), name, start, candidate.stopTime());
            if (!track) {
                Log::error("Auto-define: nil track found; stopping: track count = %d", static_cast<int>(tracks.size()));
                return tracks;
            }
            tracks.push_back(std::move(track));
            pending.reset();
        } else {
            Log::info("minTrackDuration FAIL %d %ld\n", static_cast<int>(minFrames), static_cast<long>(duration));
            if (!pending) pending = static_cast<uint32_t>(candidate.startTime());
        }
    }
    if (pending) {
        Log::info("minTrackDuration2 %d %ld\n", static_cast<int>(minFrames), static_cast<long>(length - *pending));
        tracks.push_back(makeTrack(0, "Auto Capture Track", *pending, length));
    }
    return tracks;
}

void TrackProcessingPipeline::copyMetadata(const ZORMusicMetaData& metadata, TROVTrack& track) {
    track.setAlbumName(textOrNothing(metadata.albumTitle()));
    track.setAlbumArtistName(textOrNothing(metadata.albumArtistName()));
    const std::string year = metadata.albumYear();
    track.setAlbumYear(year.empty() ? -1 : std::atoi(year.c_str()));
    track.setTrackName(textOrNothing(metadata.trackTitle()));
    track.setArtistName(textOrNothing(metadata.trackArtistName()));
    track.setComposerName(textOrNothing(metadata.trackComposerName()));
    track.setGenre(textOrNothing(metadata.genre()));
    if (!metadata.coverArt().empty())
        track.setCoverArt(std::make_shared<const ZORAudioTrackInfo::Image>(metadata.coverArt()));
    track.setComments(textOrNothing(metadata.comments()));
    track.setTrackNumber(metadata.trackNumber());
    track.setNumberOfTracks(metadata.numberOfTracks());
    track.setDiscNumber(metadata.albumNumber());
    track.setNumberOfDiscs(metadata.numberOfAlbums());
    track.setCompilation(metadata.isCompilation());
}
