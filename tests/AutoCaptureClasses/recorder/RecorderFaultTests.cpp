// The recorder when things go wrong: a dying or stalled sound server, the
// capture device as the only output.
#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "AutoCaptureClasses/DefaultOutputMemory.h"
#include "AudioTestSupport.h"
#include "CaptureTestSupport.h"

using namespace capture_test;
using namespace std::chrono_literals;

using Clock = std::chrono::steady_clock;

TEST_F(RecorderTest, ServerKilledDuringCapture) {
    auto recorder = startRecording();
    ASSERT_TRUE(recorder);
    {
        TonePlayer tone(1000);
        std::this_thread::sleep_for(1500ms);
        server.kill();
    }
    std::this_thread::sleep_for(500ms);
    auto before = Clock::now();
    recorder->stop();
    EXPECT_LT(Clock::now() - before, 500ms);
    EXPECT_TRUE(recorder->successfulRecording());
    int64_t frames = recorder->numberOfFramesRecorded();
    EXPECT_GT(frames, 0);
    EXPECT_EQ(frames % 2048, 0);
    EXPECT_TRUE(threadsEnd(recorder));
    // The output could not be given back; the note stays for the next start.
    EXPECT_EQ(DefaultOutputMemory::remembered(), "speakers");
    EXPECT_EQ(audiotest::probe(path, "duration_ts"), std::to_string(frames));
    EXPECT_EQ(audiotest::readAll(path).size(), static_cast<size_t>(frames) * 2);
}

TEST_F(RecorderTest, StopReturnsPromptlyWhileTheServerStalls) {
    auto recorder = startRecording();
    ASSERT_TRUE(recorder);
    ::kill(server.pid(), SIGSTOP);
    std::this_thread::sleep_for(300ms);
    auto before = Clock::now();
    recorder->stop();
    auto took = Clock::now() - before;
    ::kill(server.pid(), SIGCONT);
    EXPECT_LT(took, 800ms);
    EXPECT_TRUE(recorder->successfulRecording());
    EXPECT_TRUE(threadsEnd(recorder));
    EXPECT_TRUE(waitFor([&] { return server.defaultSinkName() == "speakers"; }, 2s));
}

// Playing through into the capture device would feed the recording back into itself.
TEST_F(RecorderTest, NeverPlaysThroughIntoTheCaptureDevice) {
    server.pactl(std::string("set-default-sink ") + platform::kCaptureSinkName);
    auto recorder = startRecording();
    ASSERT_TRUE(recorder);
    EXPECT_EQ(server.pactl("list sink-inputs short"), "") << "a play-through stream is open";
    finish(recorder);
    EXPECT_EQ(server.defaultSinkName(), platform::kCaptureSinkName);
}
