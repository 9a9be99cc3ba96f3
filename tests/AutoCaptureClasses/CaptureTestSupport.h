#pragma once

// Real sound-server clients and signal analysis for the capture tests.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "../platform/TemporaryDirectory.h"
#include "AutoCaptureClasses/AudioIOSubscriber.h"
#include "AutoCaptureClasses/MySystemCaptureRecorder.h"
#include "PrivatePulseServer.h"

namespace platform {
class SoundServer;
class SoundPlaybackStream;
class SoundRecordStream;
}  // namespace platform

namespace capture_test {

// A private folder for the user's configuration and state files
// (XDG_CONFIG_HOME and XDG_STATE_HOME point into it while it lives).
struct ScratchHome : TemporaryDirectory {
    ScopedEnvironment config{"XDG_CONFIG_HOME", (path() + "/config").c_str()};
    ScopedEnvironment state{"XDG_STATE_HOME", (path() + "/state").c_str()};
};

// Plays a sine tone into the default output (following it when it changes);
// the frequency can change while it plays, without a phase jump.
class TonePlayer {
public:
    explicit TonePlayer(double frequency, float amplitude = 0.5f);
    ~TonePlayer();
    bool started() const { return mStream != nullptr; }
    void setFrequency(double frequency) { mFrequency = frequency; }

private:
    std::atomic<double> mFrequency;
    float mAmplitude;
    double mPhase = 0;
    std::shared_ptr<platform::SoundServer> mServer;
    std::unique_ptr<platform::SoundPlaybackStream> mStream;
};

// Records a source (e.g. "speakers.monitor") on a thread of its own.
class SourceRecorder {
public:
    explicit SourceRecorder(const std::string& source);
    ~SourceRecorder();
    bool started() const { return mStream != nullptr; }
    std::vector<float> samples();  // interleaved stereo so far

private:
    std::shared_ptr<platform::SoundServer> mServer;
    std::unique_ptr<platform::SoundRecordStream> mStream;
    std::mutex mLock;
    std::vector<float> mSamples;
    std::thread mThread;
};

// Counts the frames the capture thread hands to subscribers.
class CountingSubscriber : public AudioIOSubscriber {
public:
    int32_t audioIOHandler(void* device, const void*, const AudioBufferList* inInputData, const void*,
                           AudioBufferList*, const void*, void*) override;
    std::atomic<int64_t> frames{0};
    std::atomic<int64_t> calls{0};
    std::function<void()> onCall;
};

// For each block of `blockFrames`: the last of `frequencies` that has more
// than 0.8 of channel 0's power, or 0 (silence or a mixture).
std::vector<double> dominantTones(const std::vector<float>& stereo, size_t blockFrames,
                                  const std::vector<double>& frequencies);
// The longest run of frames whose two samples are both exactly 0.
size_t longestSilentRun(const std::vector<float>& stereo, size_t firstFrame, size_t frameCount);
// Waits up to `limit` for `done`.
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit);

// A private sound server and scratch folder for a recorder that records into `path`.
class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.started()) << server.failure(); }

    // A recorder that records into `path`, once audio flows from the server
    // (a fresh monitor stream starts delivering only after the sink's
    // earlier latency has passed).
    std::shared_ptr<MySystemCaptureRecorder> startRecording(const MySystemCaptureRecorder::Options& options = {}) {
        auto recorder = MySystemCaptureRecorder::init(options);
        if (!recorder) return nullptr;
        recorder->setAudioFilePath(path);
        recorder->addAudioIOSubscriber(counter);
        recorder->record();
        EXPECT_TRUE(waitFor([&] { return counter->frames > 44100 / 4; }, std::chrono::seconds(8)))
            << "no audio from the server";
        return recorder;
    }
    // Lets the recorder go; whether both of its worker threads let it go too.
    static bool threadsEnd(std::shared_ptr<MySystemCaptureRecorder>& recorder) {
        std::weak_ptr<MySystemCaptureRecorder> alive = recorder;
        recorder.reset();
        return waitFor([&] { return alive.expired(); }, std::chrono::seconds(3));
    }
    void finish(std::shared_ptr<MySystemCaptureRecorder>& recorder) {
        recorder->stop();
        EXPECT_TRUE(threadsEnd(recorder)) << "the recorder's threads did not end";
    }

    ScratchHome home;
    PrivatePulseServer server;
    std::string path = home.path() + "/scratch.caf";
    std::shared_ptr<CountingSubscriber> counter = std::make_shared<CountingSubscriber>();
};

}  // namespace capture_test
