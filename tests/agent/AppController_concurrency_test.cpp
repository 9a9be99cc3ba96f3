#include "agent/AppController.h"
#include "agent/TROVDMessages.h"

#include "../messaging/MessageTestSupport.h"
#include "TemporaryDirectory.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/ServiceNames.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace msgtest;

namespace {

std::shared_ptr<TROVMessage> command(int32_t code) {
    auto message = TROVMessage::initWithData(std::nullopt);
    message->setValueWithSInt32(kTROVDMessageIDKey, code);
    return message;
}

// A command carrying one value under `key`.
template <typename T>
std::shared_ptr<TROVMessage> command(int32_t code, const std::string& key, T value) {
    auto message = command(code);
    if constexpr (std::is_same_v<T, bool>) message->setValueWithBoolean(key, value);
    else if constexpr (std::is_same_v<T, float>) message->setValueWithFloat32(key, value);
    else message->setValueWithSInt32(key, value);
    return message;
}

std::shared_ptr<TROVMessage> replyOf(const std::optional<std::string>& data) {
    return data ? TROVMessage::initWithData(data) : nullptr;
}

// A client that speaks the socket protocol directly, to send what no
// well-behaved sender would.
class RawPeer {
public:
    explicit RawPeer(const std::string& path) : mFd(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        mConnected = connect(mFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawPeer() { close(mFd); }
    bool connected() const { return mConnected; }
    bool send(const std::string& bytes) const {
        return ::send(mFd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // Linux carries no SOCK_SEQPACKET record anywhere near 10 MiB (ENOBUFS),
    // so no peer can send one (the remote port refuses it before sending);
    // this is larger than any command and still allocates reliably.
    bool sendOversize() const { return send(std::string(100000, '<')); }
    // The reply, "" for none (the peer closed), nullopt on time-out.
    std::optional<std::string> receive(int timeoutMs = 2000) const {
        pollfd ready{mFd, POLLIN, 0};
        if (poll(&ready, 1, timeoutMs) != 1) return std::nullopt;
        std::string buffer(70000, '\0');
        ssize_t n = recv(mFd, buffer.data(), buffer.size(), 0);
        return n < 0 ? std::string() : buffer.substr(0, static_cast<size_t>(n));
    }

private:
    int mFd;
    bool mConnected = false;
};

class AppControllerTest : public testing::Test {
protected:
    void SetUp() override { controller = AppController::init(); }
    void TearDown() override { controller.reset(); }

    std::shared_ptr<TROVMessage> handle(const TROVMessage& message) {
        return replyOf(controller->HandleMachMessage(message));
    }
    std::shared_ptr<TROVMessage> handle(int32_t code) { return handle(*command(code)); }

    // Whether a well-formed telemetry request is answered now.
    bool servesTelemetry() {
        return whileServing([] {
            auto remote = TROVRemoteMessagePort::initWithName(platform::kAgentServiceName);
            if (!remote) return false;
            auto request = TROVMessage::initWithRemoteMessagePort(remote);
            request->setValueWithSInt32(kTROVDMessageIDKey, kTROVDMessage_RequestTelemetry);
            auto reply = request->sendWithReply(true);
            return reply && getInt(*reply, kTROVDMessageIDKey) == kTROVDMessage_Telemetry;
        });
    }
    // Sends raw bytes, returns the reply ("" for none) and checks the next
    // client is still served.
    std::optional<std::string> rawRequest(const std::string& bytes) {
        auto reply = whileServing([this, bytes]() -> std::optional<std::string> {
            RawPeer peer(socketPath());
            if (!peer.connected() || !peer.send(bytes)) return std::nullopt;
            return peer.receive();
        });
        EXPECT_TRUE(servesTelemetry());
        return reply;
    }
    std::string socketPath() const { return runtime / platform::kAgentServiceName; }

    TemporaryDirectory runtime;
    ScopedEnvironment runtimeVariable{"XDG_RUNTIME_DIR", runtime.path().c_str()};
    std::shared_ptr<AppController> controller;
};

std::vector<std::string> keysOf(const TROVMessage& message) { return message.messageDictionary().keys(); }

TEST_F(AppControllerTest, StartsIdleAndTelemetryHasFourKeysOrSixWhileProcessing) {
    EXPECT_EQ(controller->state(), kAgentStateIdle);
    EXPECT_EQ(controller->storedSilenceThreshold(), 0.001f);
    EXPECT_EQ(controller->storedMaxRecordingMins(), 0);
    EXPECT_FALSE(controller->isStatusMenuVisible());
    ASSERT_TRUE(controller->messagePort()->runLoopSource());
    auto reply = handle(kTROVDMessage_RequestTelemetry);
    ASSERT_TRUE(reply);
    EXPECT_EQ(keysOf(*reply), (std::vector<std::string>{"msgID", "cap", "state", "stime"}));
    EXPECT_EQ(getInt(*reply, "msgID"), kTROVDMessage_Telemetry);
    EXPECT_EQ(getBool(*reply, "cap", false), true);
    EXPECT_EQ(getInt(*reply, "state"), kAgentStateIdle);
    // No capture yet: the whole clock time, to a 32-bit float's precision.
    EXPECT_NEAR(getFloat(*reply, "stime").value_or(0), platform::absoluteTime(), 128.0);

    controller->setState(kAgentStateProcessing);
    controller->setProcessingTracks(2, 5);
    reply = handle(kTROVDMessage_RequestTelemetry);
    EXPECT_EQ(keysOf(*reply),
              (std::vector<std::string>{"msgID", "cap", "state", "stime", "current_track", "total_tracks"}));
    EXPECT_EQ(getInt(*reply, "current_track"), 2);
    EXPECT_EQ(getInt(*reply, "total_tracks"), 5);
    controller->setState(kAgentStateCapturing);
    EXPECT_EQ(handle(kTROVDMessage_RequestTelemetry)->messageDictionary().size(), 4u);
}

TEST_F(AppControllerTest, QuitOnlyInIdleState) {
    for (int32_t busy : {kAgentStateCapturing, kAgentStateProcessing}) {
        controller->setState(busy);
        auto reply = handle(kTROVDMessage_Quit);
        ASSERT_TRUE(reply) << "state " << busy;  // ignored, answered with an empty reply
        EXPECT_EQ(reply->messageDictionary().size(), 0u);
    }
    controller->setState(kAgentStateIdle);
    platform::LogCapture log;
    EXPECT_FALSE(controller->HandleMachMessage(*command(kTROVDMessage_Quit)));  // quits: no reply
    EXPECT_TRUE(log.contains("quitTROVD"));
}

TEST_F(AppControllerTest, SilenceParametersKeepWhatIsNotSent) {
    auto reply = handle(*command(kTROVDMessage_SetSilenceParameters, "SilenceThreshold", 0.5f));
    EXPECT_EQ(reply->messageDictionary().size(), 0u);
    EXPECT_EQ(controller->storedSilenceThreshold(), 0.5f);
    EXPECT_EQ(controller->storedLengthOfSilence(), 0.25f);
    handle(*command(kTROVDMessage_SetSilenceParameters, "LengthOfSilence", 2.0f));
    EXPECT_EQ(controller->storedSilenceThreshold(), 0.5f);
    EXPECT_EQ(controller->storedLengthOfSilence(), 2.0f);
}

TEST_F(AppControllerTest, RecordingTimeLimitIsStoredAndLogged) {
    platform::LogCapture log;
    handle(kTROVDMessage_SetRecordingTimeLimit);  // no "timeout": the stored value
    EXPECT_EQ(handle(*command(kTROVDMessage_SetRecordingTimeLimit, "timeout", 5))->messageDictionary().size(), 0u);
    EXPECT_EQ(controller->storedMaxRecordingMins(), 5);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"kTROVDMessage_SetRecordingTimeLimit 0",
                                                     "kTROVDMessage_SetRecordingTimeLimit 5"}));
}

TEST_F(AppControllerTest, MenuIsBuiltOnceAndHiddenOnce) {
    auto show = command(kTROVDMessage_SetMenuVisible, "visible", true);
    auto hide = command(kTROVDMessage_SetMenuVisible, "visible", false);
    platform::LogCapture log;
    handle(*hide);  // hidden already: nothing to remove
    handle(*show);
    handle(*show);
    EXPECT_TRUE(controller->isStatusMenuVisible());
    handle(kTROVDMessage_SetMenuVisible);  // no "visible": unchanged
    EXPECT_TRUE(controller->isStatusMenuVisible());
    handle(*hide);
    EXPECT_FALSE(controller->isStatusMenuVisible());
    EXPECT_EQ(log.count("activateStatusMenu"), 1u);
    EXPECT_EQ(log.count("removeStatusItem"), 1u);
}

TEST_F(AppControllerTest, UnknownOrMissingCommandCodesAreAnsweredEmpty) {
    platform::LogCapture log;
    auto noCode = TROVMessage::initWithData(std::nullopt);
    noCode->setValueWithSInt32("timeout", 5);
    for (const auto& request : {command(0), command(0x61626364), noCode}) {
        auto reply = handle(*request);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->messageDictionary().size(), 0u);
    }
    EXPECT_EQ(log.count("unknown message received"), 3u);
    EXPECT_EQ(log.lines().size(), 3u);
}

TEST_F(AppControllerTest, ProcessFileNeedsAStringPath) {
    platform::LogCapture log;
    EXPECT_EQ(handle(kTROVDMessage_ProcessFile)->messageDictionary().size(), 0u);
    EXPECT_TRUE(log.lines().empty());
    handle(*command(kTROVDMessage_ProcessFile, "path", 12));
    EXPECT_EQ(log.lines().size(), 1u);
    EXPECT_FALSE(log.contains("processFileWithPath"));
    EXPECT_EQ(controller->state(), kAgentStateIdle);
}

TEST_F(AppControllerTest, SecondControllerFindsTheNameTaken) {
    auto second = AppController::init();
    EXPECT_EQ(second->messagePort()->runLoopSource(), nullptr);
    EXPECT_TRUE(second->messagePort()->nameTaken());
    second.reset();
    EXPECT_TRUE(servesTelemetry());
}

// Each is answered with an empty dictionary and logged as an unknown message;
// the next client is served.
TEST_F(AppControllerTest, UnreadableRequestsAreUnknownCommands) {
    for (const char* bytes : {
             "<plist version=\"1.0\"><dict><key>msgID</key><integer>1918135405",  // malformed XML
             "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><integer>1918135405</integer></array></plist>",
             ""}) {
        platform::LogCapture log;
        auto reply = rawRequest(bytes);
        ASSERT_TRUE(reply) << bytes;
        EXPECT_NE(reply->find("<dict/>"), std::string::npos) << bytes;
        EXPECT_EQ(TROVMessage::initWithData(reply)->messageDictionary().size(), 0u);
        EXPECT_EQ(log.count("unknown message received"), 1u) << bytes;
    }
}

TEST_F(AppControllerTest, OversizeRequestIsRefusedUnread) {
    platform::LogCapture log;
    auto reply = whileServing([this]() -> std::optional<std::string> {
        RawPeer peer(socketPath());
        if (!peer.sendOversize()) return std::string("not sent");
        return peer.receive();
    });
    EXPECT_EQ(reply, std::string()) << testing::PrintToString(log.lines());  // closed without a reply
    EXPECT_EQ(log.count("incoming message of"), 1u);
    EXPECT_EQ(log.lines().size(), 1u);
    EXPECT_TRUE(servesTelemetry());
}

TEST_F(AppControllerTest, WrongKindUnderAKnownKeyIsIgnoredWithOneLine) {
    platform::LogCapture log;
    auto reply = rawRequest("<plist version=\"1.0\"><dict><key>msgID</key><integer>1934783564</integer>"
                            "<key>timeout</key><string>5</string></dict></plist>");  // 'sRtL'
    ASSERT_TRUE(reply);
    EXPECT_EQ(controller->storedMaxRecordingMins(), 0);
    EXPECT_EQ(log.count("value of \"timeout\" is a string"), 1u);
    EXPECT_EQ(log.count("kTROVDMessage_SetRecordingTimeLimit 0"), 1u);
}

TEST_F(AppControllerTest, PeerThatNeverSendsOrClosesUnsentDoesNotHoldOthersUp) {
    platform::LogCapture log;
    auto silent = std::make_unique<RawPeer>(socketPath());
    ASSERT_TRUE(silent->connected());
    EXPECT_TRUE(servesTelemetry());
    EXPECT_FALSE(log.contains("no request within"));  // served while the silent peer still waits
    platform::MainLoop::shared().runUntil([&] { return log.contains("no request within"); }, 2.0);
    EXPECT_EQ(log.count("no request within 0.5 s"), 1u);
    EXPECT_EQ(silent->receive(100), std::string());  // closed by the agent

    // Nor does one that closes without sending; it is logged.
    whileServing([this] {
        RawPeer peer(socketPath());
        return peer.connected();
    });
    EXPECT_TRUE(servesTelemetry());
    EXPECT_EQ(log.count("closed its connection without sending a request"), 1u);
}

TEST_F(AppControllerTest, PeerThatNeverReadsItsReplyDoesNotHoldOthersUp) {
    std::vector<std::unique_ptr<RawPeer>> deaf;
    whileServing([&] {
        for (int i = 0; i < 50; ++i) {
            deaf.push_back(std::make_unique<RawPeer>(socketPath()));
            deaf.back()->send(*command(kTROVDMessage_RequestTelemetry)->flatten());
        }
        return true;
    });
    EXPECT_TRUE(servesTelemetry());
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Preferences of this test process live in a folder of their own, set
    // before the standard user defaults are first used.
    TemporaryDirectory config;
    setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    unsetenv("PULSE_SERVER");
    return RUN_ALL_TESTS();
}
