// trovario-record as users run it: a process on a private sound server.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "AudioTestSupport.h"
#include "CaptureTestSupport.h"
#include "PrivatePulseServer.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

// The tool, started with its standard output and error going to `log`.
pid_t startTool(const std::vector<std::string>& arguments, const std::string& log) {
    std::vector<char*> argv{const_cast<char*>(TROVARIO_RECORD)};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    if (posix_spawn(&pid, TROVARIO_RECORD, &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The exit code, or -1 when the process did not exit by itself within `limit`.
int waitForExit(pid_t pid, std::chrono::milliseconds limit) {
    int status = 0;
    bool exited = capture_test::waitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, limit);
    if (!exited) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class TrovarioRecordTool : public ::testing::Test {
protected:
    capture_test::ScratchHome home;
    std::string log = home.path() + "/tool.log";
    std::string out = home.path() + "/capture.caf";
};

}  // namespace

TEST_F(TrovarioRecordTool, AnInterruptEndsTheRecordingAtOnceAndKeepsTheFile) {
    PrivatePulseServer server;
    ASSERT_TRUE(server.started()) << server.failure();
    pid_t pid = startTool({"600", "--out", out}, log);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(capture_test::waitFor([&] { return server.defaultSinkName() == "trovario_capture"; }, 5s));
    std::this_thread::sleep_for(1500ms);
    kill(pid, SIGINT);
    EXPECT_EQ(waitForExit(pid, 5s), 0) << TemporaryDirectory::read(log);
    EXPECT_NE(TemporaryDirectory::read(log).find("file: " + out), std::string::npos) << TemporaryDirectory::read(log);
    EXPECT_EQ(server.defaultSinkName(), "speakers");
    EXPECT_EQ(audiotest::probe(out, "codec_name"), "pcm_s16be");
}

TEST_F(TrovarioRecordTool, SaysHowToLoadAMissingCaptureDevice) {
    PrivatePulseServer server(capture_test::withoutCaptureSink());
    ASSERT_TRUE(server.started()) << server.failure();
    pid_t pid = startTool({"1", "--out", out}, log);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(waitForExit(pid, 10s), 1);
    EXPECT_NE(TemporaryDirectory::read(log).find("trovarioctl install-capture-device"), std::string::npos) << TemporaryDirectory::read(log);
}

TEST_F(TrovarioRecordTool, RefusesArgumentsItCannotUse) {
    for (std::string arguments : {"", "ten", "-1", "5 --pause-at 2", "5 --pause-at 3 --resume-at 2", "5 --out",
                                  "5 --loud yes"}) {
        int code = 0;
        commandOutput(std::string(TROVARIO_RECORD) + " " + arguments + " 2>/dev/null", &code);
        EXPECT_EQ(code, 2) << "arguments: " << arguments;
    }
}
