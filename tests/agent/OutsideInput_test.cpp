// The real trovario-agent meets input it must refuse: a request whose string
// holds a NUL byte and a preferences file with one. It refuses both and goes
// on serving.

#include "TemporaryDirectory.h"
#include "platform/LocalSocket.h"
#include "platform/PropertyList.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

extern char** environ;

namespace {

constexpr int32_t kProcessFile = 0x7046696C;       // 'pFil'
constexpr int32_t kRequestTelemetry = 0x72546C6D;  // 'rTlm'
constexpr int64_t kTelemetry = 0x54656C6D;         // 'Telm'
constexpr platform::PropertyList::Limits kReplyLimits{platform::kLocalSocketMaxMessage, 8, true};
const std::string kNulString("<string>a\0b</string>", 20);

// Ends the agent if the test stops early.
struct AgentGuard {
    pid_t pid = -1;
    ~AgentGuard() {
        if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
    }
};

std::string request(int32_t code, const std::string& rest = "") {
    return "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>msgID</key><integer>" + std::to_string(code) +
           "</integer>" + rest + "</dict></plist>";
}

// The reply to one raw request, retried while the agent is starting.
std::optional<platform::PropertyList> send(const std::string& socketPath, const std::string& xml) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::unique_ptr<platform::LocalSocket> socket;
        std::optional<std::string> reply;
        if (platform::LocalSocket::connect(socketPath, 1.0, &socket) == platform::kLocalSocketSuccess &&
            socket->send(xml, 1.0) == platform::kLocalSocketSuccess &&
            socket->receive(&reply, 2.0) == platform::kLocalSocketSuccess && reply) {
            auto parsed = platform::PropertyList::fromXml(*reply, kReplyLimits);
            return parsed ? std::optional(std::move(*parsed)) : std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return std::nullopt;
}

TEST(OutsideInput, AgentRefusesNulBytesInARequestAndInItsPreferencesAndGoesOnServing) {
    TemporaryDirectory runtime, config;
    ASSERT_EQ(chmod(runtime.path().c_str(), 0700), 0);
    const std::string preferences = config / "trovario/org.trovario.TrovarioAgent.plist";
    TemporaryDirectory::write(
        preferences, "<plist><dict><key>ZORDefaultScratchDirectoryKey</key>" + kNulString + "</dict></plist>");
    ScopedEnvironment runtimeDir("XDG_RUNTIME_DIR", runtime.path().c_str());
    ScopedEnvironment configDir("XDG_CONFIG_HOME", config.path().c_str());
    ScopedEnvironment noServer("PULSE_SERVER", nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, (runtime / "agent.err").c_str(), O_WRONLY | O_CREAT, 0600);
    char* argv[] = {const_cast<char*>(TROV_AGENT_PATH), const_cast<char*>("--foreground"), nullptr};
    AgentGuard agent;
    ASSERT_EQ(posix_spawn(&agent.pid, TROV_AGENT_PATH, &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    const std::string socketPath = runtime / "org.trovario.TrovarioAgent";
    auto refused = send(socketPath, request(kProcessFile, "<key>path</key>" + kNulString));
    ASSERT_TRUE(refused) << TemporaryDirectory::read(runtime / "agent.err");
    EXPECT_EQ(refused->size(), 0u);  // answered as any request it cannot read
    auto telemetry = send(socketPath, request(kRequestTelemetry));
    ASSERT_TRUE(telemetry);
    EXPECT_EQ(telemetry->get("msgID")->asInteger(), kTelemetry);

    struct stat aside {};
    EXPECT_EQ(stat((preferences + ".unreadable").c_str(), &aside), 0);
    const pid_t pid = std::exchange(agent.pid, -1);
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    // A sanitizer report would end the agent with another status.
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << TemporaryDirectory::read(runtime / "agent.err");
}

}  // namespace
