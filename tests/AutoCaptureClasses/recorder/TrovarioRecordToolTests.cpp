// trovario-record as users run it: a process on a private sound server.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <string>
#include <thread>
#include <vector>

#include "AudioTestSupport.h"
#include "CaptureTestSupport.h"
#include "ChirpPlayer.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr int64_t kAllowance = 44100 / 20;

// The tool's standard output and error; `code` its exit status.
std::string runTool(const std::string& arguments, int& code) {
    return commandOutput("'" TROVARIO_RECORD "' " + arguments + " 2>&1", &code);
}

// The tool in the background, its standard output and error going to `log`.
pid_t startTool(std::vector<std::string> arguments, const std::string& log) {
    arguments.insert(arguments.begin(), TROVARIO_RECORD);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    posix_spawn(&pid, TROVARIO_RECORD, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The exit status, or -1 (and the process killed) if it has not ended within `limit`.
int exitStatus(pid_t pid, std::chrono::milliseconds limit) {
    int status = 0;
    if (!capture_test::waitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, limit)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool recordingUnderway(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && info.st_size > 8192;
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
    pid_t tool = startTool({"600", "--out", out}, log);
    ASSERT_TRUE(capture_test::waitFor([&] { return recordingUnderway(out); }, 8s));
    std::this_thread::sleep_for(1s);
    const auto signalledAt = Clock::now();
    kill(tool, SIGINT);
    EXPECT_EQ(exitStatus(tool, 5s), 0) << TemporaryDirectory::read(log);
    EXPECT_EQ(server.defaultSinkName(), "speakers");

    const std::vector<float> samples = audiotest::readAll(out);
    const std::vector<float> played = chirp.played();
    const int64_t first = capture_test::locateInChirp(played, samples);
    ASSERT_GE(first, 0);
    EXPECT_EQ(capture_test::matchingFrames(played, samples, first), samples.size() / 2);
    EXPECT_NEAR(first + static_cast<int64_t>(samples.size() / 2), chirp.frameAt(signalledAt), kAllowance);
}

TEST_F(TrovarioRecordTool, ADeadSoundServerEndsTheRecordingAtOnceWithAFailure) {
    pid_t tool = startTool({"20", "--out", out}, log);
    ASSERT_TRUE(capture_test::waitFor([&] { return recordingUnderway(out); }, 8s));
    const auto killedAt = Clock::now();
    server.kill();
    EXPECT_EQ(exitStatus(tool, 3s), 1);
    EXPECT_LT(Clock::now() - killedAt, 2s);
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
