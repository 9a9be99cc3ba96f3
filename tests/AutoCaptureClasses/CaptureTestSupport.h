#pragma once

// Real sound-server clients and signal analysis for the capture tests.

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "../platform/TemporaryDirectory.h"
#include "AutoCaptureClasses/AudioIOSubscriber.h"
#include "AutoCaptureClasses/MySystemCaptureRecorder.h"
#include "PrivatePulseServer.h"
#include "platform/AudioConstants.h"
#include "platform/SoundPlaybackStream.h"
#include "platform/SoundRecordStream.h"
#include "platform/SoundServer.h"

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
    explicit TonePlayer(double frequency) : mFrequency(frequency) {
        auto server = platform::SoundServer::connect("tone player", 2000);
        if (!server) return;
        // Quanta of 1024 frames (279 ms buffered): deep enough that a slow
        // (sanitizer) build never lets the tone run dry.
        auto stream = platform::SoundPlaybackStream::open(*server, "", 1024, true, [this](float* data, uint32_t n) {
            double step = 2 * M_PI * mFrequency.load() / platform::kCaptureSampleRate;
            for (uint32_t i = 0; i < n; ++i) {
                data[2 * i] = data[2 * i + 1] = 0.5f * static_cast<float>(std::sin(mPhase));
                mPhase = std::fmod(mPhase + step, 2 * M_PI);
            }
            return true;
        });
        if (stream) mStream = std::move(*stream);
    }
    bool started() const { return mStream != nullptr; }
    void setFrequency(double frequency) { mFrequency = frequency; }

private:
    std::atomic<double> mFrequency;
    double mPhase = 0;
    std::unique_ptr<platform::SoundPlaybackStream> mStream;
};

// Counts the frames the capture thread hands to subscribers.
class CountingSubscriber : public AudioIOSubscriber {
public:
    int32_t audioIOHandler(void*, const void*, const AudioBufferList* inInputData, const void*, AudioBufferList*,
                           const void*, void*) override {
        mFrames += inInputData->mBuffers[0].mDataByteSize / 8;
        ++mCalls;
        if (mOnCall) mOnCall();
        return 0;
    }
    std::atomic<int64_t> mFrames{0};
    std::atomic<int64_t> mCalls{0};
    std::function<void()> mOnCall;
};

// For each block of `blockFrames`: the last of `frequencies` that has more
// than 0.8 of channel 0's power, or 0 (silence or a mixture). A Goertzel
// filter at each frequency against the block's total power.
inline std::vector<double> dominantTones(const std::vector<float>& stereo, size_t blockFrames,
                                         const std::vector<double>& frequencies) {
    std::vector<double> tones;
    for (size_t first = 0; 2 * (first + blockFrames) <= stereo.size(); first += blockFrames) {
        tones.push_back(0);
        for (double frequency : frequencies) {
            double coefficient = 2 * std::cos(2 * M_PI * frequency / 44100.0);
            double s1 = 0, s2 = 0, total = 0;
            for (size_t i = first; i < first + blockFrames; ++i) {
                double s0 = stereo[2 * i] + coefficient * s1 - s2;
                s2 = s1;
                s1 = s0;
                total += stereo[2 * i] * stereo[2 * i];
            }
            double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
            if (total > 1e-9 && power / (total * static_cast<double>(blockFrames) / 2) > 0.8) tones.back() = frequency;
        }
    }
    return tones;
}

// Waits up to `limit` for `done`.
inline bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

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
