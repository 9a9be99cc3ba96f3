// Tracks and slices identified by the real service on a catalog of generated
// pieces: recorded through a private sound server, quieter, re-encoded
// lossily, not catalogued, cut short; and the edges of the feeding.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <random>
#include <thread>

#include "AutoCaptureClasses/MySystemCaptureRecorder.h"
#include "PrivatePulseServer.h"
#include "agent/AppController.h"
#include "frameworks/identification/FingerprintCatalog.h"
#include "frameworks/identification/ZORSampleBasedTrackIdService.h"
#include "identification/MusicLikePieces.h"
#include "platform/Paths.h"
#include "platform/ServiceNames.h"
#include "platform/SoundPlaybackStream.h"
#include "platform/SoundServer.h"
#include "segmentation/AudioSegmentTree.h"
#include "segmentation/AudioSlice.h"
#include "tracks/TROVTrack.h"

using namespace std::chrono_literals;

namespace {

constexpr uint32_t kCatalogued[] = {1, 2, 3, 4, 5, 6};
constexpr uint32_t kUnknown[] = {101, 102, 103};
constexpr double kPieceSeconds = 30;
// Of each piece in the recording: what the service first checks, and 1 s more.
constexpr double kPlayedSeconds = ZORSampleBasedTrackIdService::kFirstCheckSeconds + 1;
constexpr int64_t kRate = 44100;

std::string title(uint32_t seed) { return "Piece " + std::to_string(seed); }

std::string named(const std::optional<ZORTrackMetaDataManager::MatchList>& answer) {
    return answer && !answer->empty() ? answer->front()->musicMetaData()->trackTitle() : "";
}

std::shared_ptr<TROVTrack> trackAt(int64_t frame) {
    auto track = TROVTrack::initWithNum(1, "Track");
    track->setStartTime(frame);
    return track;
}

// Each piece made once: making one takes longer than identifying it.
const std::vector<float>& piece(uint32_t seed) {
    static std::map<uint32_t, std::vector<float>> pieces;
    auto [at, added] = pieces.try_emplace(seed);
    if (added) at->second = musiclike::piece(seed, kPieceSeconds);
    return at->second;
}

std::vector<float> opening(const std::vector<float>& stereo, double seconds) {
    return {stereo.begin(), stereo.begin() + static_cast<long>(seconds * kRate) * 2};
}

// Frames of a piece that start anywhere in its first 10 s, after up to 1 s of silence.
std::vector<float> caughtLate(uint32_t seed, double seconds, std::mt19937& random, double gainDb = 0) {
    auto excerpt = opening(musiclike::excerpt(piece(seed), random() % 10000 / 1000.0, gainDb), seconds);
    return musiclike::concatenated(musiclike::silence(random() % 1000 / 1000.0), excerpt);
}

int64_t firstSound(const std::vector<float>& stereo) {
    for (size_t i = 0; i < stereo.size(); i += 2)
        if (std::fabs(stereo[i]) >= 4.0f / 32768) return static_cast<int64_t>(i / 2);
    return -1;
}

// Plays `programme` into the capture device while the recorder records it
// into `path`; how far the recording is ahead of the programme, in frames.
int64_t recordPlaying(const std::vector<float>& programme, const std::string& path) {
    PrivatePulseServer server;
    auto recorder = MySystemCaptureRecorder::init();
    auto connection = platform::SoundServer::connect("piece player", 2000);
    if (!server.started() || !recorder || !connection) {
        ADD_FAILURE() << "no recording: " << server.failure();
        return 0;
    }
    recorder->setAudioFilePath(path);
    recorder->record();
    std::atomic<size_t> played{0};
    auto stream = platform::SoundPlaybackStream::open(
        *connection, platform::kCaptureSinkName, 512, true, [&](float* data, uint32_t frames) {
            const size_t at = played, count = std::min<size_t>(frames * 2, programme.size() - at);
            std::copy_n(programme.begin() + static_cast<long>(at), count, data);
            played = at + count;
            return count == frames * 2;
        });
    if (!stream) {
        ADD_FAILURE() << stream.message();
        return 0;
    }
    while (played < programme.size()) std::this_thread::sleep_for(100ms);
    std::this_thread::sleep_for(500ms);
    recorder->stop();
    EXPECT_TRUE(recorder->successfulRecording()) << recorder->recordingStatus().message();
    std::weak_ptr<MySystemCaptureRecorder> threads = recorder;
    recorder.reset();
    while (!threads.expired()) std::this_thread::sleep_for(10ms);
    return firstSound(audiotest::readAll(path)) - firstSound(programme);
}

class TrackMatching : public ::testing::Test {
protected:
    void catalogue(const std::vector<uint32_t>& seeds) {
        auto catalog = FingerprintCatalog::open(FingerprintCatalog::defaultPath(), FingerprintCatalog::Access::kReadWrite);
        ASSERT_TRUE(catalog) << catalog.message();
        for (uint32_t seed : seeds) {
            CatalogEntry entry;
            entry.mPath = home / (title(seed) + ".caf");
            entry.mDuration = kPieceSeconds;
            entry.mFingerprint = musiclike::fingerprint(piece(seed));
            entry.mMetadata.mTitle = title(seed);
            ASSERT_TRUE((*catalog)->add(entry)) << title(seed);
        }
    }

    // Answers tallied: a wrong name is false, a right one identified.
    void judge(const std::string& name, const std::string& expected, bool mayBeUnnamed = false) {
        ++mAnswers;
        mFalse += !name.empty() && name != expected;
        mExpected += !expected.empty() && !mayBeUnnamed;
        mIdentified += !expected.empty() && !mayBeUnnamed && name == expected;
        EXPECT_TRUE(name == expected || (mayBeUnnamed && name.empty())) << name << " named, not " << expected;
    }

    void TearDown() override {
        if (mAnswers == 0) return;
        std::printf("recognition accuracy: %d of %d identified, %d false of %d answers\n", mIdentified, mExpected,
                    mFalse, mAnswers);
        EXPECT_GE(mIdentified, 0.99 * mExpected);
        EXPECT_EQ(mFalse, 0);
    }

    TemporaryDirectory home;
    ScopedEnvironment data{"XDG_DATA_HOME", (home / "data").c_str()};
    ScopedEnvironment cache{"XDG_CACHE_HOME", (home / "cache").c_str()};
    ScopedEnvironment config{"XDG_CONFIG_HOME", (home / "config").c_str()};
    ScopedEnvironment state{"XDG_STATE_HOME", (home / "state").c_str()};
    std::mt19937 random{12};
    int mAnswers = 0, mExpected = 0, mIdentified = 0, mFalse = 0;
};

// Every catalogued piece in a row through the sound server, as a capture records them.
TEST_F(TrackMatching, IdentifiesPiecesRecordedThroughTheSoundServer) {
    catalogue({std::begin(kCatalogued), std::end(kCatalogued)});
    std::vector<float> programme;
    std::vector<int64_t> starts;
    for (uint32_t seed : kCatalogued) {
        starts.push_back(static_cast<int64_t>(programme.size() / 2));
        programme = musiclike::concatenated(std::move(programme), caughtLate(seed, kPlayedSeconds, random));
    }
    const std::string recording = home / "recording.caf";
    const int64_t shift = recordPlaying(programme, recording);
    auto manager = ZORTrackMetaDataManager::initWithFilePath(recording);
    std::vector<std::shared_ptr<TROVTrack>> tracks;
    for (size_t i = 0; i < starts.size(); ++i) {
        tracks.push_back(trackAt(starts[i] + shift));
        judge(named(manager->matchTrack(*tracks.back())), title(kCatalogued[i]));
    }
    tracks.push_back(trackAt(static_cast<int64_t>(audiotest::readAll(recording).size() / 2)));
    const auto all = manager->matchAllTracks(tracks);
    ASSERT_EQ(all.size(), starts.size()) << "one entry per decided service; the last track has no audio";
    for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(named(all[i]), title(kCatalogued[i]));
}

// -6 dB, AAC and MP3 at 128 kb/s; pieces not catalogued; a short track before another piece.
TEST_F(TrackMatching, IdentifiesQuieterAndReEncodedPiecesAndNamesNothingElse) {
    catalogue({std::begin(kCatalogued), std::end(kCatalogued)});
    const auto identify = [](const std::string& path) {
        return named(ZORTrackMetaDataManager::initWithFilePath(path)->matchTrack(*trackAt(0)));
    };
    for (const char* variant : {"-6dB.caf", ".m4a", ".mp3"})
        for (uint32_t seed : kCatalogued) {
            const std::string path = home / (title(seed) + variant), source = home / "source.caf";
            const bool quieter = variant[0] == '-';
            ASSERT_EQ(musiclike::write(quieter ? path : source, caughtLate(seed, 20, random, quieter ? -6 : 0)), 0);
            int status = 0;
            if (!quieter) audiotest::run("ffmpeg -v error -y -i " + source + " -b:a 128k '" + path + "'", &status);
            ASSERT_EQ(status, 0) << path;
            SCOPED_TRACE(path);
            judge(identify(path), title(seed));
        }
    for (uint32_t seed : kUnknown) {
        ASSERT_EQ(musiclike::write(home / "unknown.caf", caughtLate(seed, 20, random)), 0);
        judge(identify(home / "unknown.caf"), "");
    }
    for (auto [shortSeed, nextSeed] : {std::pair{1u, 2u}, {3u, 4u}, {101u, 5u}}) {
        auto audio = musiclike::concatenated(opening(piece(shortSeed), 2), caughtLate(nextSeed, 20, random));
        ASSERT_EQ(musiclike::write(home / "short.caf", audio), 0);
        judge(identify(home / "short.caf"), shortSeed < 100 ? title(shortSeed) : "", true);
    }
}

// A service with no catalog decides before any audio: its empty result comes
// back even from a recording that cannot be read.
TEST_F(TrackMatching, AServiceThatNeedsNoAudioAnswersWithoutARead) {
    auto manager = ZORTrackMetaDataManager::initWithFilePath(home / "missing.caf");
    const auto answer = manager->matchTrack(*trackAt(0));
    ASSERT_TRUE(answer.has_value());
    EXPECT_TRUE(answer->empty());
    const auto all = manager->matchAllTracks({trackAt(0), trackAt(kRate)});
    EXPECT_EQ(all, std::vector<ZORTrackMetaDataManager::MatchList>(2));
}

// Slices read no further than their end (4 s holds less than the service
// needs; its limit read at the service's own rate would be 16 s); a track at
// the end reads nothing.
TEST_F(TrackMatching, SlicesStopAtTheirEndAndATrackAtTheEndGetsNothing) {
    catalogue({3});
    const auto audio = opening(piece(3), 20);
    ASSERT_TRUE(platform::createDirectories(home / "cache/trovario"));
    ASSERT_EQ(musiclike::write(platform::scratchRecordingPath(), audio), 0);
    const auto frames = static_cast<int64_t>(audio.size() / 2);
    for (auto [duration, expected] : {std::pair<int64_t, std::string>{0, ""}, {4 * kRate, ""}, {frames, title(3)}}) {
        auto tree = AudioSegmentTree::create();
        tree->setDuration(static_cast<double>(duration));
        const auto answer = AppController::matchSlice(*tree->sliceAtIndex(0));
        EXPECT_EQ(named(answer), expected) << duration << " frames";
        EXPECT_EQ(answer.has_value(), !expected.empty()) << duration << " frames";
    }
    auto manager = ZORTrackMetaDataManager::initWithFilePath(platform::scratchRecordingPath());
    EXPECT_EQ(manager->matchTrack(*trackAt(frames)), std::nullopt);
}

}  // namespace
