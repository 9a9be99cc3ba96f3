#include "tracks/ZORTrackAutoDefiner.h"

#include <chrono>
#include <cmath>
#include <cstdlib>

#include "frameworks/ZORAudioStreamBasicDescription.h"
#include "frameworks/ZORExtAudioFile.h"
#include "platform/Log.h"

namespace {

constexpr uint32_t kBlocks = 1000;
constexpr uint32_t kBufferKeptBytes = 256000;
constexpr double kProgressDelay = 0.33;
const char* const kSilenceName = "Auto-defined Track";
const char* const kTrackName = "Auto-define track";

// Seconds times the rate as an unsigned 32-bit count: truncated, negative
// (and not-a-number) gives 0, too large gives the largest count.
uint32_t frameCount(double value) {
    if (!(value > 0)) return 0;
    if (value >= 4294967295.0) return UINT32_MAX;
    return uint32_t(value);
}

std::shared_ptr<TROVTrack> makeTrack(const char* name, uint32_t start, uint32_t stop) {
    auto track = TROVTrack::initWithNum(1, name);
    track->setStartTime(start);
    track->setStopTime(stop);
    return track;
}

}  // namespace

struct ZORTrackAutoDefiner::Scan {
    float threshold = 0;
    uint32_t minimumRun = 0;  // M
    uint32_t mergeGap = 0;    // G
    uint32_t channels = 1;
    uint64_t samplesScanned = 0;
    std::optional<uint64_t> openRun;  // first sample of a quiet run still going on
    Tracks silences;
};

ZORTrackAutoDefiner::~ZORTrackAutoDefiner() {
    free(mOutputBuffer);
}

void ZORTrackAutoDefiner::allocateOutputBufferIfNeededWithSize(uint32_t bytes) {
    if (mOutputBuffer && bytes <= mCurrentOutputBufferSize) return;
    free(mOutputBuffer);
    // One spare byte: calloc(0) may give no address, and an empty request still needs a buffer.
    mOutputBuffer = static_cast<float*>(calloc(1, size_t(bytes) + 1));
    mCurrentOutputBufferSize = mOutputBuffer ? bytes : 0;
    // Without a buffer the reads fail and are logged; the tracks are cut from what was found.
    if (!mOutputBuffer) platform::Log::error("autoDefineTracksInFile: cannot allocate %u bytes", bytes);
}

void ZORTrackAutoDefiner::freeBuffersIfNeeded() {
    if (mCurrentOutputBufferSize <= kBufferKeptBytes) return;
    free(mOutputBuffer);
    mOutputBuffer = nullptr;
    mCurrentOutputBufferSize = 0;
}

std::optional<ZORTrackAutoDefiner::Tracks> ZORTrackAutoDefiner::autoDefineTracksInFile(const std::string& path,
                                                                                       uint32_t lengthInFrames,
                                                                                       float sensitivity,
                                                                                       float lengthOfSilence) {
    mShouldCancel.store(false, std::memory_order_relaxed);
    auto reader = ZORExtAudioFile::initForReading(path);
    reader->open();
    if (reader->lengthInFrames() <= 0) return std::nullopt;

    const AudioStreamBasicDescription standard =
        *ZORAudioStreamBasicDescription::standardFormat(0)->audioStreamBasicDescription();
    reader->setClientStreamFormat(standard);
    const uint32_t channels = reader->channelsPerFrame();
    const uint32_t blockFrames = lengthInFrames / kBlocks;
    allocateOutputBufferIfNeededWithSize(channels * 4 * blockFrames);

    const double rate = standard.mSampleRate;
    const uint32_t silenceFrames = frameCount(double(lengthOfSilence) * rate);
    Scan scan;
    scan.channels = std::max<uint32_t>(channels, 1);
    scan.threshold = sensitivity;
    scan.minimumRun = std::min(silenceFrames / 4, frameCount(rate * 0.3));
    scan.mergeGap = frameCount(rate * 0.1);
    scan.silences.reserve(7);

    const auto started = std::chrono::steady_clock::now();
    AudioBufferList list{1, {{channels, blockFrames * standard.mBytesPerFrame, mOutputBuffer}}};
    for (uint32_t block = 0; block < kBlocks; ++block) {
        uint32_t frames = blockFrames;
        if (int32_t status = reader->read(&list, frames)) {
            platform::Log::info("autoDefineTracksInFile::inputFile read error: %d", status);
            platform::Log::warning("%s; the tracks are cut from the audio read before it",
                                   reader->lastErrorMessage().c_str());
            break;
        }
        // A block is examined in microseconds, so the flag read after it stops the scan at once.
        scanBlock(scan, mOutputBuffer, frames);
        std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
        if (elapsed.count() > kProgressDelay && mDelegate) mDelegate->updateAutoDefineProgress(float(block) / 1000.0f);
        if (mShouldCancel.load(std::memory_order_relaxed)) break;
    }

    Tracks tracks = cut(scan.silences, lengthInFrames, silenceFrames);
    reader->close();
    platform::Log::debug("silentTracks count: %d", int(scan.silences.size()));
    platform::Log::debug("theTracks count: %d", int(tracks.size()));
    platform::Log::debug("theTracks: %s", TROVTrack::describeTracks(tracks).c_str());
    freeBuffersIfNeeded();
    return tracks;
}

// A sample is loud when s > T or s < -T; anything else, not-a-number
// included, is quiet.
//
// Sample by sample, a silence is recorded when a loud sample ends a run of
// consecutive quiet samples (in interleaved order, across frames) whose last
// quiet sample lies more than M frames after its first: the record runs from
// the frame of the first quiet sample to the frame of the loud one. Such a
// run is at least M * C + 2 samples long, so probing every (M * C + 2)th
// sample finds every one of them; only around a quiet probe is the run
// measured. The records are exactly those of a sample-by-sample scan, at a
// fraction of the work.
namespace {

inline bool loud(float sample, float threshold) {
    return sample > threshold || sample < -threshold;
}

uint64_t firstLoudSample(const float* samples, uint64_t from, uint64_t count, float threshold) {
    while (from < count && !loud(samples[from], threshold)) ++from;
    return from;
}

uint64_t runStart(const float* samples, uint64_t at, uint64_t floor, float threshold) {
    while (at > floor && !loud(samples[at - 1], threshold)) --at;
    return at;
}

}  // namespace

void ZORTrackAutoDefiner::scanBlock(Scan& scan, const float* samples, uint32_t frames) {
    const uint64_t count = uint64_t(frames) * scan.channels;
    const uint64_t base = scan.samplesScanned;
    const float threshold = scan.threshold;
    scan.samplesScanned += count;
    uint64_t next = 0;  // every sample before it is accounted for, and the one just before is loud
    if (scan.openRun) {
        uint64_t end = firstLoudSample(samples, 0, count, threshold);
        if (end == count) return;
        endRun(scan, *scan.openRun, base + end);
        scan.openRun.reset();
        next = end + 1;
    }
    const uint64_t stride = uint64_t(scan.minimumRun) * scan.channels + 2;
    while (next + stride - 1 < count) {
        const uint64_t probe = next + stride - 1;
        if (loud(samples[probe], threshold)) {
            next = probe + 1;
            continue;
        }
        const uint64_t start = runStart(samples, probe, next, threshold);
        const uint64_t end = firstLoudSample(samples, probe + 1, count, threshold);
        if (end == count) {
            scan.openRun = base + start;
            return;
        }
        endRun(scan, base + start, base + end);
        next = end + 1;
    }
    // Fewer than `stride` samples remain: no run can end in them, one may reach into the next block.
    const uint64_t start = runStart(samples, count, next, threshold);
    if (start < count) scan.openRun = base + start;
}

void ZORTrackAutoDefiner::endRun(Scan& scan, uint64_t firstQuiet, uint64_t loudSample) {
    const uint64_t start = firstQuiet / scan.channels;
    if ((loudSample - 1) / scan.channels - start > scan.minimumRun)
        recordSilence(scan, uint32_t(start), uint32_t(loudSample / scan.channels));
}

void ZORTrackAutoDefiner::recordSilence(Scan& scan, uint32_t start, uint32_t stop) {
    auto silence = makeTrack(kSilenceName, start, stop);
    if (!scan.silences.empty()) {
        const auto& last = scan.silences.back();
        if (silence->startTime() - last->stopTime() < int64_t(scan.mergeGap)) {
            silence->setStartTime(last->startTime());
            scan.silences.pop_back();
        }
    }
    scan.silences.push_back(silence);
}

ZORTrackAutoDefiner::Tracks ZORTrackAutoDefiner::cut(const Tracks& silences, uint32_t length,
                                                     uint32_t silenceFrames) {
    if (silences.empty()) return {makeTrack(kTrackName, 0, length)};
    Tracks tracks;
    uint32_t cutPoint = 0;
    for (const auto& silence : silences) {
        if (silence->duration() < int64_t(silenceFrames)) continue;
        auto middle = uint32_t((silence->startTime() + silence->stopTime()) / 2);
        tracks.push_back(makeTrack(kTrackName, cutPoint, middle));
        cutPoint = middle;
    }
    // Unsigned on purpose: when the silence length exceeds the recording the last track is always added.
    if (length - silenceFrames > cutPoint) tracks.push_back(makeTrack(kTrackName, cutPoint, length));
    return tracks;
}
