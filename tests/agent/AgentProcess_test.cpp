// The real trovario-agent, each test with its own runtime and configuration
// folders, driven by the real trovarioctl.

#include "ChildProcess.h"
#include "CommandOutput.h"
#include "PrivatePulseServer.h"
#include "TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

namespace {

struct Outcome {
    int exitCode = -1;
    std::string out, err;
};

class AgentProcessTest : public testing::Test {
protected:
    void TearDown() override {
        for (pid_t pid : children) {
            kill(pid, SIGKILL);
            exitCodeOf(pid);
        }
    }

    pid_t spawn(std::vector<const char*> argv, const std::string& logPath) {
        children.push_back(spawnLogged(std::move(argv), logPath));
        return children.back();
    }
    // Starts an agent in the foreground, its log to a file, and waits until it takes commands.
    pid_t startAgent() {
        agentLog = runtime / ("agent" + std::to_string(children.size()) + ".err");
        const pid_t pid = spawn({TROV_AGENT_PATH, "--foreground", "--verbose"}, agentLog);
        waitForLog("ready for commands");
        return pid;
    }
    bool waitForLog(const std::string& text, double seconds = 5.0) const {
        return eventually([&] { return log().find(text) != std::string::npos; }, seconds);
    }
    std::string log() const { return TemporaryDirectory::read(agentLog); }

    Outcome ctl(const std::string& args, const std::string& cwd = ".") {
        Outcome outcome;
        const std::string err = runtime / "ctl.err";
        outcome.out = commandOutput("cd '" + cwd + "' && " + TROV_CTL_PATH + " " + args + " 2>" + err, &outcome.exitCode);
        outcome.err = TemporaryDirectory::read(err);
        return outcome;
    }
    bool socketExists() const { return std::filesystem::exists(runtime / "org.trovario.TrovarioAgent"); }

    TemporaryDirectory runtime, config;
    ScopedEnvironment runtimeVariable{"XDG_RUNTIME_DIR", runtime.path().c_str()};
    ScopedEnvironment configVariable{"XDG_CONFIG_HOME", config.path().c_str()};
    ScopedEnvironment stateVariable{"XDG_STATE_HOME", (config / "state").c_str()};
    // The scratch recording and the exports stay in the test's folders.
    ScopedEnvironment cacheVariable{"XDG_CACHE_HOME", (config / "cache").c_str()};
    ScopedEnvironment homeVariable{"HOME", config.path().c_str()};
    ScopedEnvironment noServer{"PULSE_SERVER", nullptr};
    std::vector<pid_t> children;
    std::string agentLog;
};

// A preferences file holding a NUL byte is refused and set aside, not read cut
// short. The commands carry their values to the agent; a file that is not
// readable audio is never sent. A second agent leaves the first one serving.
TEST_F(AgentProcessTest, FreshAgentIsIdleTakesCommandsAndKeepsItsNameFromASecondOne) {
    const std::string preferences = config / "trovario/org.trovario.TrovarioAgent.plist";
    TemporaryDirectory::write(preferences,
                              "<plist><dict><key>k</key><string>a" + std::string(1, '\0') + "b</string></dict></plist>");
    startAgent();
    EXPECT_TRUE(std::filesystem::exists(preferences + ".unreadable"));

    EXPECT_EQ(ctl("status").out, "state: idle\ncapture: none since the agent started\nsilence: threshold 0.03, length "
                                 "1.3 s\ntime limit: 2 h\nminimum track duration: 30 s\nlast run: none yet\n");
    const std::string json = ctl("status --json").out, raw = ctl("send rTlm").out;  // the four keys of the idle state
    EXPECT_TRUE(std::regex_match(json, std::regex(R"(\{"state": 1, "state_name": "idle", "stime": [0-9.]+, )"
                                                  R"("since_capture_start": null, "capture": "idle", .*, )"
                                                  R"("time_limit": 7200, .*"run": 0, .*\}\n)"))) << json;
    EXPECT_TRUE(std::regex_match(raw, std::regex(R"(msgID = 1415933037 'Telm' \(int\)\ncap = true \(bool\)\n)"
                                                 R"(state = 1 \(int\)\nstime = [0-9.]+ \(float\)\n)"))) << raw;

    TemporaryDirectory::write(runtime / "music/take.wav", "RIFF");
    for (const auto& [file, error] : std::vector<std::pair<std::string, std::string>>{
             {"nothing.wav", "cannot read nothing.wav: no such file"}, {runtime.path(), "not a regular file"},
             {"music/take.wav", "cannot read music/take.wav: not audio"}}) {
        Outcome refused = ctl("process " + file, runtime.path());
        EXPECT_EQ(refused.exitCode, 2);
        EXPECT_NE(refused.err.find(error), std::string::npos) << refused.err;
    }
    EXPECT_EQ(ctl("send sRtL").out, "(empty reply)\n");
    EXPECT_EQ(ctl("time-limit 5").exitCode, 0);
    EXPECT_TRUE(waitForLog("kTROVDMessage_SetRecordingTimeLimit 5"));
    EXPECT_EQ(ctl("send sScT SilenceThreshold=float:0.5").exitCode, 0);
    EXPECT_EQ(ctl("silence --length 2").exitCode, 0);
    EXPECT_TRUE(waitForLog("kTROVDMessage_SetSilenceParameters 0.500000 2.000000"));

    int exitCode = -1;
    const std::string second = commandOutput(std::string("timeout 5 ") + TROV_AGENT_PATH + " 2>&1", &exitCode);
    EXPECT_EQ(exitCode, 1);
    EXPECT_NE(second.find("another trovario-agent is already running"), std::string::npos) << second;
    EXPECT_TRUE(socketExists());
    EXPECT_EQ(ctl("status").exitCode, 0);
    EXPECT_EQ(log().find("wav"), std::string::npos);
}

// start and stop tell what they set going: the capture and its limit, a
// refusal, the run and its outcome.
TEST_F(AgentProcessTest, StartAndStopSayWhatTheAgentDid) {
    PrivatePulseServer server;
    ASSERT_TRUE(server.started()) << server.failure();
    startAgent();
    EXPECT_EQ(ctl("time-limit 90").exitCode, 0);
    Outcome started = ctl("start"), second = ctl("start");
    EXPECT_EQ(started.out, "capture recording; it stops by itself after 1 h 30 min (`trovarioctl stop` ends it sooner)\n")
        << started.err;
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_EQ(second.err.rfind("trovarioctl start: ", 0), 0u) << second.err;
    EXPECT_NE(ctl("status").out.find("capture: recording for 00:00:0"), std::string::npos);
    // A stop before the first frames reach the file has nothing to process.
    const std::string scratch = config / "cache/trovario/trov_scratch.caf";
    EXPECT_TRUE(eventually([&] { return std::filesystem::exists(scratch) && std::filesystem::file_size(scratch) > 20000; }));
    Outcome stopped = ctl("stop --wait");
    EXPECT_EQ(stopped.exitCode, 0) << stopped.err;
    EXPECT_TRUE(std::regex_match(stopped.out, std::regex("(finding tracks\n)?(track [^\n]*\n)*run 1: [^\n]*\n")))
        << stopped.out;
}

TEST_F(AgentProcessTest, LoadingTheCaptureSinkIsNoticedWithinOneCheck) {
    PrivatePulseServer server({.captureSink = false, .scriptFile = {}});
    ASSERT_TRUE(server.started()) << server.failure();
    startAgent();
    EXPECT_TRUE(waitForLog("is not available")) << log();
    Outcome install = ctl("install-capture-device");
    ASSERT_EQ(install.exitCode, 0) << install.err;
    // The next check comes at most 3 s later; the margin covers a loaded machine.
    EXPECT_TRUE(waitForLog(std::string("is available (sink ") + platform::kCaptureSinkName + ")", 4.5)) << log();
}

// One capture at a time: an agent that starts during a capture leaves its
// output alone, a second recorder is refused naming the first; once the first
// is killed, the agent gives the output back at once (about 3 ms measured).
TEST_F(AgentProcessTest, NobodyTakesARunningCapturesOutputAndAKilledOnesComesBackAtOnce) {
    PrivatePulseServer server;
    ASSERT_TRUE(server.started()) << server.failure();
    const std::string out = runtime / "take.caf";
    const pid_t recorder = spawn({TROV_RECORD_PATH, "600", "--out", out.c_str()}, runtime / "record.err");
    ASSERT_TRUE(eventually([&] { return server.defaultSinkName() == platform::kCaptureSinkName; }));
    startAgent();
    int exitCode = -1;
    const std::string second = commandOutput(std::string(TROV_RECORD_PATH) + " 1 --out '" + out + "2' 2>&1", &exitCode);
    EXPECT_EQ(exitCode, 1);
    EXPECT_NE(second.find("another capture is running (process " + std::to_string(recorder)), std::string::npos) << second;
    EXPECT_EQ(server.defaultSinkName(), platform::kCaptureSinkName);

    kill(recorder, SIGKILL);
    EXPECT_TRUE(eventually([&] { return server.defaultSinkName() == "speakers"; }, 1.0)) << log();
}

// Usage errors exit 2. Quit (in the idle state), SIGTERM and SIGINT end the
// agent cleanly; the socket a killed one leaves behind is taken over by the next agent.
TEST_F(AgentProcessTest, UsageErrorsExitTwoAndWithoutAnAgentCommandsExitThreeWhicheverWayItEnded) {
    for (const char* wrong : {"", "bogus", "status --xml", "process", "silence", "silence --threshold -1",
                              "silence --length nan", "time-limit 5.5", "menu up", "send", "send abcde",
                              "send rTlm timeout", "send rTlm timeout=long:5", "send rTlm visible=bool:maybe",
                              "quit now", "install-capture-device --forever"})
        EXPECT_EQ(ctl(wrong).exitCode, 2) << wrong;
    for (int signal : {0, SIGTERM, SIGINT, SIGKILL}) {
        pid_t agent = startAgent();
        if (signal) kill(agent, signal);
        else EXPECT_EQ(ctl("quit").exitCode, 0);
        std::erase(children, agent);
        EXPECT_EQ(exitCodeOf(agent), signal == SIGKILL ? 128 + SIGKILL : 0) << signal;
        EXPECT_EQ(socketExists(), signal == SIGKILL);
        Outcome status = ctl("status");
        EXPECT_EQ(status.exitCode, 3);
        EXPECT_NE(status.err.find("the Trovario agent is not running"), std::string::npos) << signal;
        EXPECT_EQ(ctl("quit").exitCode, 3);
    }
    startAgent();
    EXPECT_EQ(ctl("status").exitCode, 0);
}

}  // namespace
