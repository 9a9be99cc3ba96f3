#include "agent/AppController.h"
#include "agent/SlicePipeline.h"
#include "agent/TROVDMessages.h"
#include "segmentation/AudioSegmentTree.h"

#include "../messaging/MessageTestSupport.h"
#include "AudioTestSupport.h"
#include "TemporaryDirectory.h"
#include "platform/Clock.h"
#include "platform/LocalSocket.h"
#include "platform/ServiceNames.h"

#include <sys/socket.h>

using namespace msgtest;

namespace {

using PL = platform::PropertyList;

// A command carrying `value` under `key`, or nothing but its code.
std::shared_ptr<TROVMessage> command(int32_t code, const std::string& key = "", const std::optional<PL>& value = {}) {
    auto message = TROVMessage::initWithData(std::nullopt);
    message->setValueWithSInt32(kTROVDMessageIDKey, code);
    if (value) message->setValueWithCFType(key, *value);
    return message;
}

class AppControllerTest : public testing::Test {
protected:
    void SetUp() override { controller = AppController::init(); }

    std::shared_ptr<TROVMessage> handle(const std::shared_ptr<TROVMessage>& message) {
        auto data = controller->HandleMachMessage(*message);
        return data ? TROVMessage::initWithData(data) : nullptr;
    }
    // A peer of its own on the agent's socket, to send what no well-behaved sender would.
    std::unique_ptr<platform::LocalSocket> connect() const {
        std::unique_ptr<platform::LocalSocket> peer;
        platform::LocalSocket::connect(runtime / platform::kAgentServiceName, 1.0, &peer);
        return peer;
    }
    // Sends raw bytes and gives the reply: nullopt when the agent closed without one.
    std::optional<std::string> rawRequest(const std::string& bytes) {
        return whileServing([this, bytes] {
            std::optional<std::string> reply = "no answer";
            auto peer = connect();
            if (peer && ::send(peer->fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size()))
                peer->receive(&reply, 2.0);
            return reply;
        });
    }

    // Whether a telemetry request is answered now.
    bool servesTelemetry() {
        auto reply = rawRequest(*command(kTROVDMessage_RequestTelemetry)->flatten());
        return reply && getInt(*TROVMessage::initWithData(reply), kTROVDMessageIDKey) == kTROVDMessage_Telemetry;
    }

    TemporaryDirectory runtime;
    ScopedEnvironment runtimeVariable{"XDG_RUNTIME_DIR", runtime.path().c_str()};
    std::shared_ptr<AppController> controller;
};

// The idle reply's keys, in order, are checked as trovarioctl shows them.
TEST_F(AppControllerTest, TelemetryHasFourKeysOrSixWhileProcessingAndQuitIsOnlyTakenIdle) {
    auto reply = handle(command(kTROVDMessage_RequestTelemetry));
    ASSERT_TRUE(reply);
    // No capture yet: the whole clock time, to a 32-bit float's precision.
    EXPECT_NEAR(get<float>(*reply, "stime", 0).value_or(0), platform::absoluteTime(), 128.0);

    controller->setState(kAgentStateProcessing);
    controller->setProcessingTracks(2, 5);
    reply = handle(command(kTROVDMessage_RequestTelemetry));
    EXPECT_EQ(reply->messageDictionary().size(), 6u);
    EXPECT_EQ(getInt(*reply, "current_track"), 2);
    EXPECT_EQ(getInt(*reply, "total_tracks"), 5);
    controller->setState(kAgentStateCapturing);
    EXPECT_EQ(handle(command(kTROVDMessage_RequestTelemetry))->messageDictionary().size(), 4u);

    // Quit is ignored, with an empty reply, unless the agent is idle; then there is no reply.
    for (int32_t state : {kAgentStateCapturing, kAgentStateProcessing, kAgentStateIdle}) {
        controller->setState(state);
        auto reply = handle(command(kTROVDMessage_Quit));
        EXPECT_EQ(reply ? int(reply->messageDictionary().size()) : -1, state == kAgentStateIdle ? -1 : 0) << state;
    }
}

// A value that is absent, or of the wrong kind, keeps the stored one.
TEST_F(AppControllerTest, SettingsKeepWhatIsNotSentOrNotReadable) {
    using Stored = std::tuple<float, float, int32_t, bool>;  // threshold, length of silence, minutes, menu shown
    const std::pair<std::shared_ptr<TROVMessage>, Stored> steps[] = {
        {command(kTROVDMessage_RequestTelemetry), {0.001f, 0.25f, 0, false}},
        {command(kTROVDMessage_SetSilenceParameters, "SilenceThreshold", PL::real(0.5)), {0.5f, 0.25f, 0, false}},
        {command(kTROVDMessage_SetSilenceParameters, "LengthOfSilence", PL::real(2)), {0.5f, 2.0f, 0, false}},
        {command(kTROVDMessage_SetRecordingTimeLimit, "timeout", PL::integer(5)), {0.5f, 2.0f, 5, false}},
        {command(kTROVDMessage_SetRecordingTimeLimit), {0.5f, 2.0f, 5, false}},
        {command(kTROVDMessage_SetRecordingTimeLimit, "timeout", PL::string("7")), {0.5f, 2.0f, 5, false}},
        {command(kTROVDMessage_SetSilenceParameters, "SilenceThreshold", PL::string("1")), {0.5f, 2.0f, 5, false}},
        {command(kTROVDMessage_SetMenuVisible, "visible", PL::boolean(true)), {0.5f, 2.0f, 5, true}},
        {command(kTROVDMessage_SetMenuVisible), {0.5f, 2.0f, 5, true}},
        {command(kTROVDMessage_SetMenuVisible, "visible", PL::boolean(false)), {0.5f, 2.0f, 5, false}}};
    for (const auto& [message, stored] : steps) {
        ASSERT_TRUE(handle(message));
        EXPECT_EQ(Stored(controller->storedSilenceThreshold(), controller->storedLengthOfSilence(),
                         controller->storedMaxRecordingMins(), controller->isStatusMenuVisible()), stored);
    }
    // 'pFil' without a string path processes nothing.
    EXPECT_EQ(handle(command(kTROVDMessage_ProcessFile))->messageDictionary().size(), 0u);
    handle(command(kTROVDMessage_ProcessFile, "path", PL::integer(12)));
    EXPECT_EQ(controller->state(), kAgentStateIdle);
}

// Each is answered with an empty dictionary as an unknown command; an
// oversize one is refused; the next client is served.
TEST_F(AppControllerTest, UnreadableOversizeRequestsAndUnknownCodesAreRefused) {
    auto list = [](const std::string& body) { return "<plist version=\"1.0\">" + body + "</plist>"; };
    for (const std::string& bytes : {list("<dict><key>msgID</key><integer>0</integer></dict>"),
                                     list("<dict><key>msgID</key><integer>1633837924</integer></dict>"),  // 'abcd'
                                     list("<dict><key>timeout</key><integer>5</integer></dict>"),
                                     list("<dict><key>msgID</key><integer>1883662700</integer><key>path</key><string>a" +
                                          std::string(1, '\0') + "b</string></dict>"),  // 'pFil', a NUL in its path
                                     list("<array><integer>1918135405</integer></array>"),
                                     list("<string>msgID</string>"), std::string("garbage"),
                                     std::string("\x00\x01\xff\xfe", 4),
                                     list("<dict><key>msgID</key><integer>1918135405"), std::string()}) {  // unclosed
        auto reply = rawRequest(bytes);
        ASSERT_TRUE(reply) << bytes;
        EXPECT_NE(reply->find("<dict/>"), std::string::npos) << bytes;
    }
    // An oversize request is refused unread. Linux carries no SOCK_SEQPACKET
    // record near 10 MiB (ENOBUFS), so no peer can send one; this is larger
    // than any command and still goes through.
    EXPECT_EQ(rawRequest(std::string(100000, '<')), std::nullopt);  // closed without a reply
    EXPECT_TRUE(servesTelemetry());
}

TEST_F(AppControllerTest, PeersThatNeverSendOrNeverReadDoNotHoldOthersUp) {
    auto silent = connect();
    ASSERT_TRUE(silent);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(servesTelemetry());  // while the silent peer still waits
    std::optional<std::string> none = "not closed";
    whileServing([&] { return silent->receive(&none, 2.0); });
    EXPECT_EQ(none, std::nullopt);  // closed by the agent after its time-out
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(450));
    whileServing([this] { return connect() != nullptr; });  // closes unsent

    std::vector<std::unique_ptr<platform::LocalSocket>> deaf;
    whileServing([&] {
        for (int i = 0; i < 50; ++i)
            if ((deaf.emplace_back(connect()))) deaf.back()->send(*command(kTROVDMessage_RequestTelemetry)->flatten(), 1.0);
        return deaf.size();
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

// The slice pipeline works the tree on its worker while the main loop serves,
// and brings the agent back to idle; a tree without silences keeps one slice.
TEST_F(AppControllerTest, SlicesAreWorkedOffTheMainLoopAndTheAgentReturnsToIdle) {
    EXPECT_FALSE(controller->processSlices());  // no capture yet: no tree
    auto tree = AudioSegmentTree::create();
    tree->setDuration(44100.0 * 600);
    tree->addSilenceSegmentFrom(44100.0 * 200, 44100.0 * 202);
    SlicePipeline pipeline(*controller);
    ASSERT_TRUE(pipeline.processSlices(tree, 30));
    EXPECT_EQ(controller->state(), kAgentStateProcessing);
    EXPECT_FALSE(pipeline.processSlices(tree, 30));
    EXPECT_TRUE(platform::MainLoop::shared().runUntil([&] { return controller->state() == kAgentStateIdle; }, 10.0));
    EXPECT_GE(tree->numberOfSlices(), 2);
}

// A file's run: imported and cut on the workers while the main loop answers;
// a second run is refused meanwhile; the end comes back to the main loop.
TEST_F(AppControllerTest, AFileIsProcessedOnTheWorkersWhileTheMainLoopAnswers) {
    TemporaryDirectory home;
    ScopedEnvironment cache{"XDG_CACHE_HOME", (home / "cache").c_str()};
    ScopedEnvironment data{"XDG_DATA_HOME", (home / "data").c_str()};
    std::vector<float> samples;
    audiotest::appendTone(samples, 44100 * 4, 2, 440, 0.5f);
    ASSERT_EQ(audiotest::writeCaf(home / "take.caf", samples), 0);
    auto reply = handle(command(kTROVDMessage_ProcessFile, "path", PL::string(home / "take.caf")));
    EXPECT_EQ(getInt(*reply, kTROVDRunKey), 1);
    EXPECT_TRUE(handle(command(kTROVDMessage_ProcessFile, "path", PL::string(home / "take.caf")))
                    ->messageDictionary().contains(kTROVDErrorKey));
    EXPECT_TRUE(servesTelemetry());
    EXPECT_TRUE(platform::MainLoop::shared().runUntil([&] { return controller->state() == kAgentStateIdle; }, 30.0));
    EXPECT_EQ(audiotest::readAll(home / "cache/trovario/trov_scratch.caf").size(), samples.size());
}

// The menu as a user without a tray reads and clicks it over the port: its
// titles at build and after each update, the running time, and the status
// line that cannot be chosen.
TEST_F(AppControllerTest, TheMenuShowsTheStateAndItsEntriesAreClickedOverThePort) {
    ScopedEnvironment noBus{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"};
    auto menu = [this] {
        std::string lines;
        auto entries = handle(command(kTROVDMessage_RequestMenu))->messageDictionary().get(kTROVDMenuEntriesKey);
        for (size_t i = 0; entries && i < entries->size(); ++i)
            lines += entries->at(i).get(kTROVDMenuTitleKey)->asString() +
                     (entries->at(i).get(kTROVDMenuEnabledKey)->asBool() ? "|" : "(off)|");
        return lines;
    };
    EXPECT_EQ(menu(), "");
    for (bool visible : {true, false, true}) handle(command(kTROVDMessage_SetMenuVisible, "visible", PL::boolean(visible)));
    EXPECT_EQ(menu(), "Open Trovario||Status: Idle(off)|Start Automatic Capture|");
    controller->updateMenuStatus();
    EXPECT_EQ(menu(), "Open Trovario||Status: Idle(off)|Start Auto Music Capture|");
    controller->setState(kAgentStateCapturing);
    controller->updateMenuStatus();
    for (auto [seconds, time] : {std::pair{65.0, "00:01:05"}, {36000.0, "10:00:00"}}) {
        controller->setStartIntervalForRecording(platform::absoluteTime() - seconds - 0.5);
        controller->updateMenuTimer();
        EXPECT_EQ(menu(), std::string("Open Trovario||Status: Capturing [") + time + "](off)|Stop Auto Music Capture|");
    }
    controller->setState(kAgentStateProcessing);
    controller->updateMenuStatus();
    EXPECT_EQ(menu(), "Open Trovario||Processing Tracks...(off)|Stop Auto Music Capture(off)|");
    for (int32_t entry : {1, 2, 3, 9})
        EXPECT_TRUE(handle(command(kTROVDMessage_ClickMenu, "entry", PL::integer(entry)))
                        ->messageDictionary().contains(kTROVDErrorKey)) << entry;
}
