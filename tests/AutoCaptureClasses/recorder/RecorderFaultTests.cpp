// The recorder when things go wrong: a dying or stalled sound server, a
// missing capture device, blocks larger than the dequeue buffer, a capture
// device as the only output, a link planted at the scratch path.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

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
    EXPECT_TRUE(waitFor([&] { return log.contains("Capture stream ended"); }, 2s));
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

    std::string probed = probe(path);
    EXPECT_NE(probed.find("duration_ts=" + std::to_string(frames)), std::string::npos) << probed;
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

TEST(RecorderFaults, MissingCaptureDeviceFailsInitWithTheLoggedLines) {
    PrivatePulseServer::Options options;
    options.captureSink = false;
    PrivatePulseServer server(options);
    ASSERT_TRUE(server.started()) << server.failure();
    platform::LogCapture log;
    EXPECT_FALSE(MySystemCaptureRecorder::init());
    auto lines = log.lines();
    auto missing = std::find(lines.begin(), lines.end(), "Couldn't find any matches.\n");
    auto failed = std::find(lines.begin(), lines.end(),
                            "prepareIOA returned " +
                                std::to_string(MySystemCaptureRecorder::kCaptureErrorNoDevice) + "\n");
    EXPECT_NE(missing, lines.end());
    EXPECT_NE(failed, lines.end());
    EXPECT_LT(missing, failed);
    EXPECT_EQ(server.defaultSinkName(), "speakers");
}

TEST(RecorderFaults, NoSoundServerFailsInitAtOnce) {
    ScopedEnvironment noServer("PULSE_SERVER", "unix:/nonexistent/trovario/native");
    platform::LogCapture log;
    auto before = Clock::now();
    EXPECT_FALSE(MySystemCaptureRecorder::init());
    EXPECT_LT(Clock::now() - before, 500ms);
    EXPECT_TRUE(log.contains("Sound server connection failed"));
    EXPECT_TRUE(log.contains("prepareIOA returned " +
                             std::to_string(MySystemCaptureRecorder::kCaptureErrorNoSoundServer) + "\n"));
}

TEST_F(RecorderTest, BlocksLargerThanTheDequeueBufferArriveWhole) {
    MySystemCaptureRecorder::Options options;
    options.captureBlockBytes = 65536;
    auto recorder = startRecording(options);
    ASSERT_TRUE(recorder);
    TonePlayer tone(1000);
    std::this_thread::sleep_for(2000ms);
    EXPECT_EQ(recorder->audioRingBuffer().mCapacityFrames, 16384u / 8 * 256);
    int64_t captured = counter->frames;
    recorder->stop();
    int64_t frames = recorder->numberOfFramesRecorded();
    EXPECT_TRUE(threadsEnd(recorder));
    // Every piece of every block reached the subscribers and the file.
    EXPECT_GT(captured, 44100);
    EXPECT_GT(frames, 0);
    std::vector<double> tones = dominantTones(audiotest::readAll(path), 2048, {1000});
    EXPECT_GE(std::count(tones.begin(), tones.end(), 1000.0), 15);
}

TEST_F(RecorderTest, NeverPlaysThroughIntoTheCaptureDevice) {
    server.pactl(std::string("set-default-sink ") + platform::kCaptureSinkName);
    auto recorder = MySystemCaptureRecorder::init();
    ASSERT_TRUE(recorder);
    EXPECT_FALSE(recorder->outputDevice());
    EXPECT_FALSE(recorder->playThruEnabled());
    EXPECT_TRUE(log.contains("zorcoreaudio error: " + std::to_string(MySystemCaptureRecorder::kCaptureErrorNoDevice) +
                             " ->  src/AutoCaptureClasses/MySystemCaptureRecorder:  329\n"));
    recorder->setAudioFilePath(path);
    recorder->record();
    recorder->stop();
    EXPECT_TRUE(threadsEnd(recorder));
    EXPECT_EQ(server.defaultSinkName(), platform::kCaptureSinkName);
}

TEST_F(RecorderTest, LinkPlantedAtTheScratchPathIsNotFollowed) {
    std::string victim = home.path() + "/victim";
    TemporaryDirectory::write(victim, "precious");
    ASSERT_EQ(symlink(victim.c_str(), path.c_str()), 0);
    auto recorder = startRecording();
    ASSERT_TRUE(recorder);
    std::this_thread::sleep_for(700ms);
    finish(recorder);
    EXPECT_EQ(TemporaryDirectory::read(victim), "precious");
    struct stat info {};
    ASSERT_EQ(lstat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}
