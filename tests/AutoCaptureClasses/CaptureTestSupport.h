#pragma once

// Real sound-server clients and signal analysis for the capture tests.

#include <atomic>
#include <chrono>
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
#include "platform/SoundRecordStream.h"
#include "platform/SoundServer.h"

namespace capture_test {

// A private folder for the user's configuration and state files
// (XDG_CONFIG_HOME and XDG_STATE_HOME point into it while it lives).
struct ScratchHome : TemporaryDirectory {
    ScopedEnvironment config{"XDG_CONFIG_HOME", (path() + "/config").c_str()};
    ScopedEnvironment state{"XDG_STATE_HOME", (path() + "/state").c_str()};
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

    // A recorder that records into `path` from now on.
    std::shared_ptr<MySystemCaptureRecorder> startRecording(const MySystemCaptureRecorder::Options& options = {}) {
        auto recorder = MySystemCaptureRecorder::init(options);
        if (!recorder) return nullptr;
        recorder->setAudioFilePath(path);
        recorder->addAudioIOSubscriber(counter);
        recorder->record();
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
