// The recorder against a private PulseAudio server: what the system plays
// reaches the scratch file and the previous output, pause and resume, the
// default output during and after a capture, subscribers and the states; and
// when things go wrong: a dying or stalled server, the capture device as the
// only output.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <thread>

#include "AutoCaptureClasses/DefaultOutputMemory.h"
#include "AudioTestSupport.h"
#include "CaptureTestSupport.h"
#include "ChirpPlayer.h"
#include "segmentation/AudioSegmentTree.h"

using namespace capture_test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int64_t kRate = 44100;
// What the sound server's own latency may cost at either end: 50 ms.
constexpr int64_t kAllowance = kRate / 20;

// Where the recording in `path` lies in the chirp: the chirp's frame of its
// first frame, and its frames from there without a break.
struct Placement {
    int64_t mFirst;
    size_t mMatching;
};

Placement place(const ChirpPlayer& chirp, const std::vector<float>& samples, size_t fromFrame = 0) {
    const std::vector<float> played = chirp.played();
    const int64_t first = locateInChirp(played, samples, fromFrame);
    return {first, first < 0 ? 0 : matchingFrames(played, samples, first, fromFrame)};
}

}  // namespace

// Planar frames are one sample of one channel each; only the interleaved
// format is in use today, so nothing else would notice a wrong planar size.
TEST(PlayThru, CanonicalPlanarFormatHasOneSamplePerPacket) {
    const AudioStreamBasicDescription planar = ASBD_CreateCanonical(48000, 6, false);
    EXPECT_EQ(std::tuple(planar.mFormatFlags, planar.mBytesPerPacket, planar.mBytesPerFrame, planar.mChannelsPerFrame),
              std::tuple(41u, 4u, 4u, 6u));
}

TEST_F(RecorderTest, RecordsWhatThePlayerPlaysAndPlaysItOnToThePreviousOutput) {
    auto connection = platform::SoundServer::connect("test", 2000);
    ASSERT_TRUE(connection) << connection.message();
    auto monitor = platform::SoundRecordStream::open(*connection, "speakers.monitor", 16384);
    ASSERT_TRUE(monitor) << monitor.message();
    std::unique_ptr<platform::SoundRecordStream> speakers = std::move(*monitor);
    std::vector<float> heard;  // by the connection's thread until the stream goes
    speakers->setConsumer([&heard, s = speakers.get()] {
        std::vector<float> entry(4096);
        for (uint32_t size = 16384; s->dataAvailable() && s->dequeue(entry.data(), size) == 0; size = 16384)
            heard.insert(heard.end(), entry.begin(), entry.begin() + size / 4);
    });
    ChirpPlayer chirp(platform::kCaptureSinkName);
    ASSERT_TRUE(chirp.started());
    // Blocks larger than the recorder's dequeue buffer, which come in pieces.
    auto recorder = startRecording({.captureBlockBytes = 65536});
    ASSERT_TRUE(recorder);
    EXPECT_EQ(server.defaultSinkName(), platform::kCaptureSinkName);
    EXPECT_EQ(DefaultOutputMemory::remembered(), "speakers");
    std::this_thread::sleep_for(2500ms);

    auto before = Clock::now();
    recorder->stop();
    EXPECT_LT(Clock::now() - before, 500ms);
    EXPECT_EQ(server.defaultSinkName(), "speakers");
    EXPECT_FALSE(DefaultOutputMemory::remembered());
    EXPECT_TRUE(recorder->successfulRecording()) << recorder->recordingStatus().message();
    int64_t frames = recorder->numberOfFramesRecorded();
    EXPECT_EQ(recorder->audioSegmentTree()->duration(), static_cast<double>(frames));
    EXPECT_TRUE(threadsEnd(recorder)) << "the recorder's threads did not end";
    speakers.reset();

    EXPECT_EQ(audiotest::probe(path, "codec_name,sample_rate,channels,duration_ts"),
              "pcm_s16be\n44100\n2\n" + std::to_string(frames));
    EXPECT_EQ(place(chirp, audiotest::readAll(path)).mMatching, static_cast<size_t>(frames));
    // The speakers hear silence until play-through begins, then the chirp.
    auto sound = std::find_if(heard.begin(), heard.end(), [](float sample) { return sample != 0; });
    EXPECT_GT(place(chirp, heard, static_cast<size_t>(sound - heard.begin()) / 2 + 1).mMatching, 0u)
        << "the chirp did not reach the speakers";
}

// A second recorder started meanwhile must neither start nor disturb this one.
TEST_F(RecorderTest, PauseAndResumeLeaveOutThePausedAudioWithoutAGapAndASecondRecorderIsRefused) {
    ChirpPlayer chirp(platform::kCaptureSinkName);
    ASSERT_TRUE(chirp.started());
    auto recorder = startRecording();
    ASSERT_TRUE(recorder);
    std::vector<Clock::time_point> calls{Clock::now()};
    EXPECT_FALSE(MySystemCaptureRecorder::init()) << "a second recorder started";
    using R = MySystemCaptureRecorder;
    for (auto step : {&R::pause, &R::record, &R::stop}) {
        std::this_thread::sleep_for(1s);
        calls.push_back(Clock::now());
        ((*recorder).*step)();
    }
    EXPECT_TRUE(recorder->successfulRecording()) << recorder->recordingStatus().message();
    EXPECT_TRUE(threadsEnd(recorder));

    // Two stretches of the chirp, each from its record to its pause or stop.
    ASSERT_EQ(chirp.underflows(), 0) << "the test's chirp player ran dry: the machine is too loaded to judge";
    const std::vector<float> samples = audiotest::readAll(path);
    const Placement before = place(chirp, samples);
    const Placement after = place(chirp, samples, before.mMatching);
    EXPECT_EQ(before.mMatching + after.mMatching, samples.size() / 2) << "more than two stretches";
    EXPECT_NEAR(before.mFirst, chirp.frameAt(calls[0]), kAllowance);
    EXPECT_NEAR(before.mFirst + static_cast<int64_t>(before.mMatching), chirp.frameAt(calls[1]), kAllowance);
    EXPECT_NEAR(after.mFirst, chirp.frameAt(calls[2]), kAllowance);
    EXPECT_NEAR(after.mFirst + static_cast<int64_t>(after.mMatching), chirp.frameAt(calls[3]), kAllowance);
}

// With the capture device as the only output: playing through into it would
// feed the recording back into itself.
TEST_F(RecorderTest, StateChangesFollowTheStateMachineAndStopIsFinalWithoutPlayingThroughIntoTheCaptureDevice) {
    server.pactl(std::string("set-default-sink ") + platform::kCaptureSinkName);
    auto recorder = MySystemCaptureRecorder::init();
    ASSERT_TRUE(recorder);
    recorder->setAudioFilePath(path);
    recorder->addAudioIOSubscriber(counter);
    using R = MySystemCaptureRecorder;
    // Each step, and the recorder's state after it.
    auto steps = [&](std::initializer_list<std::pair<void (R::*)(), int32_t>> list) {
        for (const auto& [step, state] : list) {
            ((*recorder).*step)();
            EXPECT_EQ(recorder->recorderState(), state);
        }
    };
    steps({{&R::pause, R::kRecorderStateReady}, {&R::stop, R::kRecorderStateReady},
           {&R::record, R::kRecorderStateRecording}, {&R::record, R::kRecorderStateRecording},
           {&R::pause, R::kRecorderStatePaused}, {&R::record, R::kRecorderStateRecording}});
    ASSERT_TRUE(waitFor([&] { return counter->mFrames > kRate / 4; }, 8s)) << "no audio from the server";
    EXPECT_EQ(server.pactl("list sink-inputs short"), "") << "a play-through stream is open";

    // Stopped while paused; nothing starts it again.
    steps({{&R::pause, R::kRecorderStatePaused}, {&R::stop, R::kRecorderStateStopped},
           {&R::record, R::kRecorderStateStopped}, {&R::pause, R::kRecorderStateStopped}});
    EXPECT_TRUE(threadsEnd(recorder));
    EXPECT_EQ(server.defaultSinkName(), platform::kCaptureSinkName);
}

TEST_F(RecorderTest, SubscribersHearEveryBlockOnceUntilRemoved) {
    auto recorder = startRecording();
    ASSERT_TRUE(recorder);
    auto twice = std::make_shared<CountingSubscriber>();
    recorder->addAudioIOSubscriber(twice);
    recorder->addAudioIOSubscriber(twice);
    // A subscriber that leaves from inside its own call.
    auto leaving = std::make_shared<CountingSubscriber>();
    std::weak_ptr<MySystemCaptureRecorder> weakRecorder = recorder;
    std::weak_ptr<CountingSubscriber> weakLeaving = leaving;
    leaving->mOnCall = [weakRecorder, weakLeaving] {
        if (auto r = weakRecorder.lock()) r->removeAudioIOSubscriber(weakLeaving.lock());
    };
    recorder->addAudioIOSubscriber(leaving);
    ASSERT_TRUE(waitFor([&] { return twice->mCalls > 20; }, 3s));
    recorder->removeAudioIOSubscriber(twice);
    int64_t callsAtRemoval = twice->mCalls;
    int64_t countedBefore = counter->mCalls;
    ASSERT_TRUE(waitFor([&] { return counter->mCalls > countedBefore + 20; }, 3s));
    EXPECT_LE(twice->mCalls, callsAtRemoval + 1);
    EXPECT_EQ(leaving->mCalls, 1);
    // Both were added at a time when `counter` was already listening.
    EXPECT_LE(twice->mCalls, counter->mCalls);
    finish(recorder);
}

// A chirp plays into the capture device from before `init` to after `stop`;
// the file must be exactly the stretch played between `record` and `stop`,
// without a gap, within the allowance at either end.
class ChirpRecording : public RecorderTest, public testing::WithParamInterface<double> {};

TEST_P(ChirpRecording, HoldsEveryFramePlayedFromRecordToStop) {
    ChirpPlayer chirp(platform::kCaptureSinkName);
    ASSERT_TRUE(chirp.started());
    auto recorder = startRecording();
    ASSERT_TRUE(recorder);
    const auto recordedAt = Clock::now();
    std::this_thread::sleep_until(recordedAt + std::chrono::duration<double>(GetParam()));
    const auto stoppedAt = Clock::now();
    recorder->stop();
    EXPECT_TRUE(recorder->successfulRecording()) << recorder->recordingStatus().message();
    const int64_t frames = recorder->numberOfFramesRecorded();
    EXPECT_TRUE(threadsEnd(recorder));

    const std::vector<float> samples = audiotest::readAll(path);
    ASSERT_EQ(samples.size(), static_cast<size_t>(frames) * 2);
    const int64_t from = chirp.frameAt(recordedAt);
    const int64_t until = chirp.frameAt(stoppedAt);
    ASSERT_EQ(chirp.underflows(), 0) << "the test's chirp player ran dry: the machine is too loaded to judge";
    const Placement placed = place(chirp, samples);
    EXPECT_EQ(placed.mMatching, static_cast<size_t>(frames)) << "a gap or a foreign stretch inside the recording";
    const double wallFrames = std::chrono::duration<double>(stoppedAt - recordedAt).count() * kRate;
    printf("recording of %.0f s: starts %+.1f ms, ends %+.1f ms from the calls; %+.1f ms against the wall clock\n",
           GetParam(), (placed.mFirst - from) * 1000.0 / kRate, (placed.mFirst + frames - until) * 1000.0 / kRate,
           (frames - wallFrames) * 1000.0 / kRate);
    EXPECT_NEAR(placed.mFirst, from, kAllowance) << "the start was cut or came too early";
    EXPECT_NEAR(placed.mFirst + frames, until, kAllowance) << "the end was cut or ran on";
    EXPECT_NEAR(static_cast<double>(frames), wallFrames, kAllowance);
}

INSTANTIATE_TEST_SUITE_P(Lengths, ChirpRecording, testing::Values(1.0, 5.0, 30.0));

// A server that dies (SIGKILL) and stays away, or stalls (SIGSTOP), during a
// capture: a dead one ends the capture once the reconnection time-out has
// passed, or at the stop that comes first; stop returns promptly either way,
// the file keeps what came before, and the recording says what it lacks.
enum class Fault { KilledAndGone, KilledThenStopped, Stalled };
class ServerFault : public RecorderTest, public testing::WithParamInterface<Fault> {};

TEST_P(ServerFault, StopReturnsPromptlyAndTheRecordingIsKept) {
    const bool killed = GetParam() != Fault::Stalled;
    const bool failure = GetParam() == Fault::KilledAndGone;
    auto recorder = startRecording({.reconnectTimeoutMs = failure ? 1000 : 20000});
    ASSERT_TRUE(recorder);
    std::atomic<bool> failureReported{false};
    recorder->setCaptureFailureHandler([&](const std::string&) { failureReported = true; });
    std::this_thread::sleep_for(1500ms);
    killed ? server.kill() : void(::kill(server.pid(), SIGSTOP));
    EXPECT_EQ(waitFor([&] { return failureReported.load(); }, 2500ms), failure);
    auto before = Clock::now();
    recorder->stop();
    auto took = Clock::now() - before;
    if (!killed) ::kill(server.pid(), SIGCONT);
    EXPECT_LT(took, killed ? 300ms : 1200ms);
    EXPECT_FALSE(recorder->successfulRecording());
    if (killed) {
        EXPECT_NE(recorder->recordingStatus().message().find("sound server went away"), std::string::npos);
    }
    int64_t frames = recorder->numberOfFramesRecorded();
    EXPECT_GT(frames, kRate);
    EXPECT_TRUE(threadsEnd(recorder));
    EXPECT_EQ(audiotest::readAll(path).size(), static_cast<size_t>(frames) * 2);
    // A dead server cannot be given the output back; the note stays for the next start.
    if (killed) EXPECT_EQ(DefaultOutputMemory::remembered(), "speakers");
    else EXPECT_TRUE(waitFor([&] { return server.defaultSinkName() == "speakers"; }, 2s));
}

INSTANTIATE_TEST_SUITE_P(KilledOrStalled, ServerFault,
                         testing::Values(Fault::KilledAndGone, Fault::KilledThenStopped, Fault::Stalled));

// The server crashes and comes back with the capture sink during a capture:
// the recording goes on, the time away as silence in it, so that it still
// runs with the wall clock; the capture device is the default output again
// and is given back at the stop.
TEST_F(RecorderTest, ACaptureGoesOnThroughASoundServerRestart) {
    ChirpPlayer before(platform::kCaptureSinkName);
    ASSERT_TRUE(before.started());
    auto recorder = startRecording();
    ASSERT_TRUE(recorder);
    const auto recordedAt = Clock::now();
    std::atomic<bool> failureReported{false};
    recorder->setCaptureFailureHandler([&](const std::string&) { failureReported = true; });
    std::this_thread::sleep_for(1500ms);
    ASSERT_TRUE(server.restart()) << server.failure();
    ASSERT_TRUE(waitFor([&] { return server.defaultSinkName() == platform::kCaptureSinkName; }, 5s))
        << "the capture device was not made the default output again";
    ChirpPlayer after(platform::kCaptureSinkName);
    ASSERT_TRUE(after.started());
    std::this_thread::sleep_for(1500ms);
    const auto stoppedAt = Clock::now();
    recorder->stop();
    EXPECT_FALSE(failureReported.load());
    EXPECT_TRUE(recorder->successfulRecording()) << recorder->recordingStatus().message();
    EXPECT_EQ(server.defaultSinkName(), "speakers");
    EXPECT_FALSE(DefaultOutputMemory::remembered());
    const int64_t frames = recorder->numberOfFramesRecorded();
    EXPECT_TRUE(threadsEnd(recorder));

    // The first chirp, silence, then the second chirp to the end.
    const std::vector<float> samples = audiotest::readAll(path);
    ASSERT_EQ(samples.size(), static_cast<size_t>(frames) * 2);
    const Placement first = place(before, samples);
    EXPECT_GT(first.mMatching, static_cast<size_t>(kRate));
    size_t silentUntil = first.mMatching;
    while (silentUntil < static_cast<size_t>(frames) && samples[silentUntil * 2] == 0) ++silentUntil;
    const Placement second = place(after, samples, silentUntil);
    EXPECT_GT(second.mMatching, static_cast<size_t>(kRate));
    EXPECT_EQ(silentUntil + second.mMatching, static_cast<size_t>(frames)) << "a foreign stretch after the restart";
    const double wallFrames = std::chrono::duration<double>(stoppedAt - recordedAt).count() * kRate;
    printf("restart: %.0f ms of silence; the recording %+.1f ms against the wall clock\n",
           (silentUntil - first.mMatching) * 1000.0 / kRate, (frames - wallFrames) * 1000.0 / kRate);
    EXPECT_NEAR(static_cast<double>(frames), wallFrames, kRate / 10) << "the time away is not in the recording";
}
