// The real trovario-agent, each test with its own runtime and configuration
// folders, driven by the real trovarioctl.

#include "PrivatePulseServer.h"
#include "TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

constexpr char kSocketName[] = "org.trovario.TrovarioAgent";

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class AgentProcessTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(chmod(runtime.path().c_str(), 0700), 0);
        environment = {"XDG_RUNTIME_DIR=" + runtime.path(), "XDG_CONFIG_HOME=" + (config / "config")};
        for (char** entry = environ; *entry; ++entry) {
            const std::string variable = *entry;
            if (variable.rfind("XDG_RUNTIME_DIR=", 0) && variable.rfind("XDG_CONFIG_HOME=", 0) &&
                variable.rfind("PULSE_SERVER=", 0))
                environment.push_back(variable);
        }
    }
    void TearDown() override {
        for (pid_t pid : agents) stopAgent(pid, SIGKILL);
    }

    pid_t spawn(const std::vector<std::string>& argv, const std::string& out, const std::string& err,
                const std::string& cwd = "") {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
        std::vector<char*> args, env;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        for (const auto& e : environment) env.push_back(const_cast<char*>(e.c_str()));
        args.push_back(nullptr);
        env.push_back(nullptr);
        pid_t pid = -1;
        posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), env.data());
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

    static int waitFor(pid_t pid, double seconds) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // Starts an agent in the foreground and waits until it takes commands.
    pid_t startAgent() {
        const std::string log = runtime / ("agent" + std::to_string(agents.size()) + ".err");
        pid_t pid = spawn({TROV_AGENT_PATH, "--foreground", "--verbose"}, "/dev/null", log);
        agents.push_back(pid);
        agentLog = log;
        waitForLog("ready for commands");
        return pid;
    }
    int stopAgent(pid_t pid, int signal) {
        kill(pid, signal);
        std::erase(agents, pid);
        return waitFor(pid, 5.0);
    }
    bool waitForLog(const std::string& text, double seconds = 5.0) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (log().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }
    std::string log() const { return TemporaryDirectory::read(agentLog); }

    Outcome ctl(std::vector<std::string> args, const std::string& cwd = "") {
        args.insert(args.begin(), TROV_CTL_PATH);
        const std::string out = runtime / "ctl.out", err = runtime / "ctl.err";
        Outcome outcome;
        outcome.exitCode = waitFor(spawn(args, out, err, cwd), 10.0);
        outcome.out = TemporaryDirectory::read(out);
        outcome.err = TemporaryDirectory::read(err);
        return outcome;
    }

    bool socketExists() const {
        struct stat info {};
        return lstat((runtime / kSocketName).c_str(), &info) == 0;
    }

    TemporaryDirectory runtime;
    TemporaryDirectory config;
    std::vector<std::string> environment;
    std::vector<pid_t> agents;
    std::string agentLog;
};

TEST_F(AgentProcessTest, FreshAgentChecksTheDeviceDuringStartUpAndIsIdle) {
    startAgent();
    const std::string text = log();
    const size_t check = text.find("capture device \"Trovario Capture Support\"");
    ASSERT_NE(check, std::string::npos) << text;
    EXPECT_LT(check, text.find("ready for commands"));

    Outcome status = ctl({"status"});
    EXPECT_EQ(status.exitCode, 0) << status.err;
    EXPECT_NE(status.out.find("state: idle"), std::string::npos);
    EXPECT_NE(status.out.find("no capture since the agent started"), std::string::npos);
    EXPECT_EQ(status.out.find("track"), std::string::npos);

    Outcome json = ctl({"status", "--json"});
    EXPECT_EQ(json.exitCode, 0);
    EXPECT_EQ(json.out.rfind("{\"state\": 1, \"state_name\": \"idle\", \"stime\": ", 0), 0u) << json.out;
    EXPECT_NE(json.out.find("\"since_capture_start\": null}"), std::string::npos);

    Outcome raw = ctl({"send", "rTlm"});  // exactly the four keys of the idle state
    EXPECT_EQ(raw.exitCode, 0);
    EXPECT_EQ(raw.out.find("msgID = 1415933037 'Telm' (int)\ncap = true (bool)\nstate = 1 (int)\nstime = "), 0u)
        << raw.out;
    EXPECT_EQ(std::count(raw.out.begin(), raw.out.end(), '\n'), 4);
}

TEST_F(AgentProcessTest, LoadingTheCaptureSinkIsNoticedWithinOneCheck) {
    PrivatePulseServer::Options options;
    options.captureSink = false;
    PrivatePulseServer server(options);
    ASSERT_TRUE(server.started()) << server.failure();
    environment.push_back("PULSE_SERVER=" + server.serverAddress());
    startAgent();
    EXPECT_NE(log().find("is not available"), std::string::npos) << log();

    Outcome install = ctl({"install-capture-device"});
    ASSERT_EQ(install.exitCode, 0) << install.err;
    // The next check comes at most 3 s later; the margin covers a loaded machine.
    EXPECT_TRUE(waitForLog(std::string("is available (sink ") + platform::kCaptureSinkName + ")", 4.5)) << log();
}

TEST_F(AgentProcessTest, CommandsReachTheAgentUnknownOnesAreAnsweredEmptyAndASecondAgentFindsTheNameTaken) {
    startAgent();
    for (const char* code : {"abcd", "0", "0x7FFFFFFF"}) {
        Outcome reply = ctl({"send", code});
        EXPECT_EQ(reply.exitCode, 0) << code << ": " << reply.err;
        EXPECT_EQ(reply.out, "(empty reply)\n");
    }
    ASSERT_TRUE(waitForLog("unknown message received"));

    // Silence parameters with one key keep the other.
    EXPECT_EQ(ctl({"send", "sScT", "SilenceThreshold=float:0.5"}).exitCode, 0);
    EXPECT_TRUE(waitForLog("kTROVDMessage_SetSilenceParameters 0.500000 0.250000"));
    EXPECT_EQ(ctl({"silence", "--length", "2"}).exitCode, 0);
    EXPECT_TRUE(waitForLog("kTROVDMessage_SetSilenceParameters 0.500000 2.000000"));

    EXPECT_EQ(ctl({"send", "sRtL"}).exitCode, 0);
    EXPECT_TRUE(waitForLog("kTROVDMessage_SetRecordingTimeLimit 0"));
    EXPECT_EQ(ctl({"time-limit", "5"}).exitCode, 0);
    EXPECT_TRUE(waitForLog("kTROVDMessage_SetRecordingTimeLimit 5"));
    EXPECT_EQ(ctl({"send", "sRtL", "timeout=string:7"}).exitCode, 0);  // wrong kind: kept
    EXPECT_TRUE(waitForLog("value of \"timeout\" is a string"));
    const std::string text = log();
    EXPECT_EQ(text.find("kTROVDMessage_SetRecordingTimeLimit 7"), std::string::npos);
    EXPECT_NE(text.find("kTROVDMessage_SetRecordingTimeLimit 5", text.find("is a string")), std::string::npos);

    // A second agent finds the name taken and leaves the first one serving.
    const std::string err = runtime / "second.err";
    EXPECT_EQ(waitFor(spawn({TROV_AGENT_PATH}, "/dev/null", err), 5.0), 1);
    EXPECT_NE(TemporaryDirectory::read(err).find("another trovario-agent is already running"), std::string::npos);
    EXPECT_TRUE(socketExists());
    EXPECT_EQ(ctl({"status"}).exitCode, 0);
}

// Quit (in the idle state), SIGTERM and SIGINT end the agent cleanly.
TEST_F(AgentProcessTest, EveryOrderlyEndRemovesTheSocket) {
    for (int signal : {0, SIGTERM, SIGINT}) {
        pid_t agent = startAgent();
        ASSERT_TRUE(socketExists());
        if (signal) {
            EXPECT_EQ(stopAgent(agent, signal), 0) << signal;
        } else {
            Outcome quit = ctl({"quit"});
            EXPECT_EQ(quit.exitCode, 0) << quit.err;
            std::erase(agents, agent);
            EXPECT_EQ(waitFor(agent, 5.0), 0);
        }
        EXPECT_FALSE(socketExists());
        EXPECT_EQ(ctl({"status"}).exitCode, 3);
    }
}

TEST_F(AgentProcessTest, WithoutAnAgentCommandsExitThreeAndTheSocketOfAKilledOneIsReclaimed) {
    for (bool killed : {false, true}) {
        if (killed) stopAgent(startAgent(), SIGKILL);
        ASSERT_EQ(socketExists(), killed);
        Outcome status = ctl({"status"});
        EXPECT_EQ(status.exitCode, 3);
        EXPECT_NE(status.err.find("the Trovario agent is not running"), std::string::npos) << killed;
        EXPECT_NE(status.err.find("trovario-agent &"), std::string::npos);
        EXPECT_EQ(ctl({"quit"}).exitCode, 3);
    }
    startAgent();
    EXPECT_EQ(ctl({"status"}).exitCode, 0);
}

TEST_F(AgentProcessTest, ProcessSendsAnAbsolutePathOfAReadableFile) {
    startAgent();
    TemporaryDirectory::write(runtime / "music/take.wav", "RIFF");
    Outcome sent = ctl({"process", "music/../music/take.wav"}, runtime.path());
    EXPECT_EQ(sent.exitCode, 0) << sent.err;
    EXPECT_TRUE(waitForLog(runtime / "music/take.wav not processed"));

    Outcome missing = ctl({"process", "nothing.wav"}, runtime.path());
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("cannot read nothing.wav: no such file"), std::string::npos);
    Outcome folder = ctl({"process", runtime.path()});
    EXPECT_EQ(folder.exitCode, 2);
    EXPECT_NE(folder.err.find("not a regular file"), std::string::npos);
    EXPECT_EQ(log().find("nothing.wav"), std::string::npos);
}

TEST_F(AgentProcessTest, UsageErrorsAndHelp) {
    const std::vector<std::vector<std::string>> wrong = {
        {}, {"bogus"}, {"status", "--xml"}, {"process"}, {"silence"}, {"silence", "--threshold", "-1"},
        {"silence", "--length", "nan"}, {"time-limit", "5.5"}, {"menu", "up"}, {"send"}, {"send", "abcde"},
        {"send", "rTlm", "timeout"}, {"send", "rTlm", "timeout=long:5"}, {"send", "rTlm", "visible=bool:maybe"},
        {"quit", "now"}, {"install-capture-device", "--forever"}};
    for (const auto& args : wrong) EXPECT_EQ(ctl(args).exitCode, 2) << (args.empty() ? "(none)" : args[0]);
    for (const char* command : {"status", "start", "stop", "process", "silence", "time-limit", "menu", "quit",
                                "send", "install-capture-device"}) {
        Outcome help = ctl({command, "--help"});
        EXPECT_EQ(help.exitCode, 0) << command;
        EXPECT_EQ(help.out.rfind(std::string("usage: trovarioctl ") + command, 0), 0u) << help.out;
    }
    EXPECT_EQ(ctl({"--help"}).exitCode, 0);
}

}  // namespace
