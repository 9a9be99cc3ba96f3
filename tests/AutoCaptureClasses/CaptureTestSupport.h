#pragma once

// Real sound-server clients and signal analysis for the capture tests.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../platform/TemporaryDirectory.h"
#include "AutoCaptureClasses/AudioIOSubscriber.h"
#include "AutoCaptureClasses/MySystemCaptureRecorder.h"
#include "PrivatePulseServer.h"
#include "platform/SoundRecordStream.h"

namespace platform {
class SoundServer;
class SoundPlaybackStream;
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
    explicit TonePlayer(double frequency);
    ~TonePlayer();
    bool started() const { return mStream != nullptr; }
    void setFrequency(double frequency) { mFrequency = frequency; }

private:
    std::atomic<double> mFrequency;
    double mPhase = 0;
    std::unique_ptr<platform::SoundPlaybackStream> mStream;
};

// A record stream on `source` (e.g. "speakers.monitor") over a connection of its own.
std::unique_ptr<platform::SoundRecordStream> openMonitor(const std::string& source, uint32_t fragmentBytes);

// Counts the frames the capture thread hands to subscribers.
class CountingSubscriber : public AudioIOSubscriber {
public:
    int32_t audioIOHandler(void* device, const void*, const AudioBufferList* inInputData, const void*,
                           AudioBufferList*, const void*, void*) override;
    std::atomic<int64_t> mFrames{0};
    std::atomic<int64_t> mCalls{0};
    std::function<void()> mOnCall;
};

// For each block of `blockFrames`: the last of `frequencies` that has more
// than 0.8 of channel 0's power, or 0 (silence or a mixture).
std::vector<double> dominantTones(const std::vector<float>& stereo, size_t blockFrames,
                                  const std::vector<double>& frequencies);
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
        EXPECT_TRUE(waitFor([&] { return counter->mFrames > 44100 / 4; }, std::chrono::seconds(8)))
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
