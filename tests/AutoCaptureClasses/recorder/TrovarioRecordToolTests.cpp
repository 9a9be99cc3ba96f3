// trovario-record as users run it: a process on a private sound server.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "AudioTestSupport.h"
#include "CaptureTestSupport.h"
#include "ChildProcess.h"
#include "ChirpPlayer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr int64_t kAllowance = 44100 / 20;

// The tool's standard output and error; `code` its exit status.
std::string runTool(const std::string& arguments, int& code) {
    return commandOutput("'" TROVARIO_RECORD "' " + arguments + " 2>&1", &code);
}

bool recordingUnderway(const std::string& path) {
    std::error_code missing;
    return std::filesystem::file_size(path, missing) > 8192 && !missing;
}

class TrovarioRecordTool : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.started()) << server.failure(); }

    capture_test::ScratchHome home;
    PrivatePulseServer server;
    const std::string out = home.path() + "/capture.caf";
    const std::string log = home.path() + "/tool.log";
};

}  // namespace

TEST_F(TrovarioRecordTool, AnInterruptKeepsEverythingPlayedUpToTheSignal) {
    capture_test::ChirpPlayer chirp(platform::kCaptureSinkName);
    ASSERT_TRUE(chirp.started());
    pid_t tool = spawnLogged({TROVARIO_RECORD, "600", "--out", out.c_str()}, log);
    ASSERT_TRUE(capture_test::waitFor([&] { return recordingUnderway(out); }, 8s));
    std::this_thread::sleep_for(1s);
    const auto signalledAt = Clock::now();
    kill(tool, SIGINT);
    EXPECT_EQ(exitCodeOf(tool), 0) << TemporaryDirectory::read(log);
    EXPECT_EQ(server.defaultSinkName(), "speakers");

    const std::vector<float> samples = audiotest::readAll(out);
    const int64_t first = capture_test::locateInChirp(chirp.played(), samples);
    ASSERT_GE(first, 0);
    EXPECT_NEAR(first + static_cast<int64_t>(samples.size() / 2), chirp.frameAt(signalledAt), kAllowance);
}

// The server stays away past the recording's end, within the time the
// recorder waits for it: the recording is cut short, and says so.
TEST_F(TrovarioRecordTool, ASoundServerAwayAtTheEndCutsTheRecordingShortWithAFailure) {
    pid_t tool = spawnLogged({TROVARIO_RECORD, "4", "--out", out.c_str()}, log);
    ASSERT_TRUE(capture_test::waitFor([&] { return recordingUnderway(out); }, 8s));
    server.kill();
    EXPECT_EQ(exitCodeOf(tool, 8), 1);
    EXPECT_NE(TemporaryDirectory::read(log).find("sound server went away"), std::string::npos);
    EXPECT_GT(audiotest::readAll(out).size(), 0u);
}

TEST_F(TrovarioRecordTool, AMissingCaptureDeviceIsExplainedAndBadArgumentsAreRefused) {
    int code = -1;
    std::string output = runTool("1 --out '" + home.path() + "'", code);
    EXPECT_EQ(code, 1);
    EXPECT_NE(output.find("will not replace"), std::string::npos) << output;
    ASSERT_TRUE(server.unloadCaptureSink());
    output = runTool("1 --out '" + out + "'", code);
    EXPECT_EQ(code, 1);
    EXPECT_NE(output.find("trovarioctl install-capture-device"), std::string::npos) << output;
    for (std::string arguments : {"", "ten", "-1", "5 --pause-at 2", "5 --pause-at 3 --resume-at 2", "5 --out",
                                  "5 --loud yes"}) {
        runTool(arguments, code);
        EXPECT_EQ(code, 2) << "arguments: " << arguments;
    }
}
