// The real trovario-agent doing its main job, driven by a raw peer on its
// port: recordings and files cut into tracks, identified against a catalog of
// generated pieces, exported, delivered into a private music library, and a
// lone unknown recording handed to a test editor.
#include "ChildProcess.h"
#include "PrivatePulseServer.h"
#include "agent/TROVDMessages.h"
#include "frameworks/identification/FingerprintCatalog.h"
#include "identification/MusicLikePieces.h"
#include "messaging/TROVMessage.h"
#include "messaging/TROVRemoteMessagePort.h"
#include "platform/ServiceNames.h"
#include "platform/UserDefaults.h"
#include "support/PreferenceKeys.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
constexpr double kPieceSeconds = 10;
constexpr uint32_t kUnknown = 101;

std::string title(uint32_t seed) { return "Piece " + std::to_string(seed); }

// The pieces with 2 s of silence after each.
std::vector<float> programme(const std::vector<uint32_t>& seeds) {
    std::vector<float> samples;
    for (uint32_t seed : seeds)
        samples = musiclike::concatenated(musiclike::concatenated(std::move(samples), musiclike::piece(seed, kPieceSeconds)),
                                          musiclike::silence(2));
    return samples;
}

class AgentPipeline : public testing::Test {
protected:
    void SetUp() override {
        platform::UserDefaults preferences(platform::kAgentServiceName, home / "config/trovario");
        preferences.setObject(ZORAutoDefineMinTrackDurationKey, platform::PropertyList::integer(3));
        const std::string editor = home / "editor.sh";
        TemporaryDirectory::write(editor, "#!/bin/sh\necho \"$*\" > '" + opened + ".tmp' && mv '" + opened + ".tmp' '" +
                                              opened + "'\n");
        chmod(editor.c_str(), 0755);
        TemporaryDirectory::write(home / "data/applications/org.trovario.Trovario.desktop",
                                  "[Desktop Entry]\nType=Application\nName=Test editor\nExec=" + editor + " %F\n");
        auto catalog = FingerprintCatalog::open(FingerprintCatalog::defaultPath(), FingerprintCatalog::Access::kReadWrite);
        ASSERT_TRUE(catalog) << catalog.message();
        for (uint32_t seed : {1u, 2u, 3u}) {
            CatalogEntry entry;
            entry.mPath = home / (title(seed) + ".flac");
            entry.mDuration = kPieceSeconds;
            entry.mFingerprint = musiclike::fingerprint(musiclike::piece(seed, kPieceSeconds));
            entry.mMetadata.mTitle = title(seed);
            entry.mMetadata.mArtist = "Generator";
            entry.mMetadata.mAlbum = "Pieces";
            entry.mMetadata.mTrackNumber = static_cast<int>(seed);
            ASSERT_TRUE((*catalog)->add(entry));
        }
    }
    void TearDown() override {
        if (agent > 0) kill(agent, SIGKILL), exitCodeOf(agent);
    }

    void startAgent() {
        agent = spawnLogged({TROV_AGENT_PATH, "--foreground", "--verbose"}, home / "agent.log");
        ASSERT_TRUE(eventually([&] { return request(kTROVDMessage_RequestTelemetry) != nullptr; }, 10.0));
    }
    // The reply to `code`, with the path (or for 'sRtL', the minutes) given.
    std::shared_ptr<TROVMessage> request(int32_t code, const std::string& value = "") {
        auto port = TROVRemoteMessagePort::initWithName(platform::kAgentServiceName);
        if (!port) return nullptr;
        auto message = TROVMessage::initWithRemoteMessagePort(port);
        message->setValueWithSInt32(kTROVDMessageIDKey, code);
        if (code == kTROVDMessage_SetRecordingTimeLimit) message->setValueWithSInt32(kTROVDTimeoutKey, std::stoi(value));
        else if (!value.empty()) message->setValueWithNSString(kTROVDPathKey, value);
        return message->sendWithReply(true);
    }
    bool recording() {
        return eventually([&] {
            int32_t capture = 0;
            auto report = request(kTROVDMessage_RequestReport);
            return report && report->getValueSInt32(kTROVDCaptureStateKey, capture) && capture == kCaptureRecording;
        }, 10.0);
    }
    std::string error(int32_t code, const std::string& path = "") {
        std::string why;
        if (auto reply = request(code, path)) reply->getValueNSString(kTROVDErrorKey, why);
        return why;
    }
    // The report once run `run` has ended; the largest track count telemetry showed meanwhile.
    platform::PropertyList waitForRun(int32_t run, double seconds, int32_t* largestTotal = nullptr) {
        std::shared_ptr<TROVMessage> report;
        eventually([&] {
            int32_t total = 0;
            if (auto telemetry = request(kTROVDMessage_RequestTelemetry); telemetry && largestTotal &&
                telemetry->getValueSInt32(kTROVDTotalTracksKey, total))
                *largestTotal = std::max(*largestTotal, total);
            report = request(kTROVDMessage_RequestReport);
            int32_t number = 0;
            bool active = true;
            return report && report->getValueSInt32(kTROVDRunKey, number) && number == run &&
                   report->getValueBoolean(kTROVDRunActiveKey, active) && !active;
        }, seconds);
        return report ? report->messageDictionary() : platform::PropertyList::dictionary();
    }
    // "title: where" of each delivered track, "title: problem" of the others.
    static std::vector<std::string> deliveries(const platform::PropertyList& report) {
        std::vector<std::string> lines;
        const auto list = report.get(kTROVDDeliveriesKey);
        for (size_t i = 0; list && i < list->size(); ++i) {
            const auto entry = list->at(i);
            const bool done = entry.get(kTROVDDeliveryDoneKey)->asBool();
            lines.push_back(entry.get(kTROVDDeliveryTitleKey)->asString() + ": " +
                            entry.get(done ? kTROVDDeliveryWhereKey : kTROVDDeliveryProblemKey)->asString());
        }
        return lines;
    }
    std::string music(const std::string& relative) const { return home / ("home/Music/" + relative); }

    TemporaryDirectory home;
    TemporaryDirectory runtime;  // the agent's socket, apart from other tests' agents
    ScopedEnvironment runtimeVariable{"XDG_RUNTIME_DIR", runtime.path().c_str()};
    ScopedEnvironment homeVariable{"HOME", (home / "home").c_str()};
    ScopedEnvironment configVariable{"XDG_CONFIG_HOME", (home / "config").c_str()};
    ScopedEnvironment dataVariable{"XDG_DATA_HOME", (home / "data").c_str()};
    ScopedEnvironment cacheVariable{"XDG_CACHE_HOME", (home / "cache").c_str()};
    ScopedEnvironment dataDirs{"XDG_DATA_DIRS", (home / "system").c_str()};
    ScopedEnvironment noPlayer{"PATH", "/usr/bin:/bin"};  // no osascript: the library deliverer
    std::string opened = home / "opened.txt";
    pid_t agent = -1;
};

// A file of three catalogued pieces and an unknown one: every track delivered,
// the unknown one under its number; one run at a time; a stop while idle runs
// the same recording again.
TEST_F(AgentPipeline, ProcessesAFileIntoTheLibraryAndRefusesASecondRunMeanwhile) {
    const std::string file = home / "mixtape.wav";
    ASSERT_EQ(musiclike::write(file, programme({1, 2, kUnknown, 3})), 0);
    startAgent();
    auto reply = request(kTROVDMessage_ProcessFile, file);
    int32_t run = 0;
    ASSERT_TRUE(reply && reply->getValueSInt32(kTROVDRunKey, run)) << "no run started";
    for (int32_t code : {kTROVDMessage_ProcessFile, kTROVDMessage_StartSystemCapture, kTROVDMessage_StopSystemCapture})
        EXPECT_NE(error(code, file), "") << "accepted while processing: " << code;
    int32_t largestTotal = 0;
    const auto report = waitForRun(run, 120, &largestTotal);
    EXPECT_EQ(largestTotal, 4);
    EXPECT_EQ(deliveries(report), (std::vector<std::string>{
        "Piece 1: " + music("Generator/Pieces/01 Piece 1.m4a"), "Piece 2: " + music("Generator/Pieces/02 Piece 2.m4a"),
        "Auto Capture Track 2: " + music("Unknown Artist/Unknown Album/Auto Capture Track 2.m4a"),
        "Piece 3: " + music("Generator/Pieces/03 Piece 3.m4a")}));
    EXPECT_TRUE(fs::is_empty(music("Trovario")));
    std::ifstream playlist(music("Playlists/Trovario.m3u8"));
    EXPECT_EQ(std::count(std::istreambuf_iterator<char>(playlist), {}, '\n'), 1 + 2 * 4);

    reply = request(kTROVDMessage_StopSystemCapture);
    ASSERT_TRUE(reply && reply->getValueSInt32(kTROVDRunKey, run)) << "the last recording was not processed again";
    EXPECT_EQ(deliveries(waitForRun(run, 120)).size(), 4u);
}

// A recording that is one unidentified track goes to the editor, not the library.
TEST_F(AgentPipeline, ALoneUnknownRecordingOpensInTheEditor) {
    const std::string file = home / "unknown.wav";
    ASSERT_EQ(musiclike::write(file, programme({kUnknown})), 0);
    startAgent();
    int32_t run = 0;
    auto reply = request(kTROVDMessage_ProcessFile, file);
    ASSERT_TRUE(reply && reply->getValueSInt32(kTROVDRunKey, run));
    waitForRun(run, 60);
    EXPECT_TRUE(eventually([&] { return fs::exists(opened); }, 10.0));
    EXPECT_EQ(TemporaryDirectory::read(opened), home / "cache/trovario/trov_scratch.caf\n");
    EXPECT_FALSE(fs::exists(music("Unknown Artist")));
}

// Captures through a private sound server: one at a time; the time limit ends
// one as a stop would; one goes on through a restart of the server, and ends
// with what it recorded when the server then stays away.
TEST_F(AgentPipeline, CapturesEndByTheirLimitOrGoOnThroughAServerRestartUntilTheServerStaysAway) {
    PrivatePulseServer server;
    ASSERT_TRUE(server.started()) << server.failure();
    const std::string file = home / "played.wav";
    ASSERT_EQ(musiclike::write(file, programme({2, kUnknown})), 0);
    startAgent();
    ASSERT_TRUE(request(kTROVDMessage_SetRecordingTimeLimit, "1"));
    ASSERT_EQ(error(kTROVDMessage_StartSystemCapture), "");
    EXPECT_NE(error(kTROVDMessage_StartSystemCapture), "");
    ASSERT_TRUE(recording());
    EXPECT_EQ(exitCodeOf(spawnLogged({"/usr/bin/paplay", file.c_str()}, home / "paplay.log"), 40), 0);
    auto report = waitForRun(1, 120);  // the limit stops the capture after 60 s
    EXPECT_EQ(deliveries(report).front(), "Piece 2: " + music("Generator/Pieces/02 Piece 2.m4a"));
    EXPECT_EQ(deliveries(report).size(), 2u);

    // Long enough that only the server's absence can end the next one in time.
    ASSERT_TRUE(request(kTROVDMessage_SetRecordingTimeLimit, "5"));
    ASSERT_EQ(error(kTROVDMessage_StartSystemCapture), "");
    ASSERT_TRUE(recording());
    sleep(2);
    ASSERT_TRUE(server.restart()) << server.failure();
    EXPECT_TRUE(eventually([&] { return server.defaultSinkName() == platform::kCaptureSinkName; }, 5.0));
    sleep(1);
    EXPECT_TRUE(recording());
    server.kill();
    report = waitForRun(2, 75);  // once the server has stayed away for 30 s
    EXPECT_TRUE(report.contains(kTROVDCaptureErrorKey));
    EXPECT_FALSE(report.get(kTROVDRunActiveKey)->asBool());
}

}  // namespace
