// trovarioctl's own parts: how it words the agent's report, and which files
// it refuses to hand over.
#include "AudioFileCheck.h"
#include "CommandOutput.h"
#include "ReportPrinter.h"
#include "TemporaryDirectory.h"
#include "agent/TROVDMessages.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>

namespace {

using platform::PropertyList;

TEST(Trovarioctl, DurationsNameEveryUnitFromTheLargestToTheSmallestUsed) {
    const std::pair<double, std::string> cases[] = {
        {7200, "2 h"}, {300, "5 min"}, {88200, "1 day 0 h 30 min"}, {172800, "2 days"}, {90, "1 min 30 s"},
        {59.6, "1 min"}, {3601, "1 h 0 min 1 s"}, {0, "0 s"}, {-60, "0 s"}, {std::nan(""), "0 s"}};
    for (const auto& [seconds, text] : cases) EXPECT_EQ(durationText(seconds), text) << seconds;
}

PropertyList delivery(int32_t track, const std::string& title, bool delivered, const std::string& where,
                      const std::string& problem = "") {
    PropertyList entry = PropertyList::dictionary();
    entry.set(kTROVDDeliveryTrackKey, PropertyList::integer(track));
    entry.set(kTROVDDeliveryTitleKey, PropertyList::string(title));
    entry.set(kTROVDDeliveryDoneKey, PropertyList::boolean(delivered));
    entry.set(kTROVDDeliveryWhereKey, PropertyList::string(where));
    if (!problem.empty()) entry.set(kTROVDDeliveryProblemKey, PropertyList::string(problem));
    return entry;
}

// A run of three tracks followed from its start to its end, as the agent reports it.
TEST(Trovarioctl, RunProgressAndOutcomeFollowTheReport) {
    PropertyList reply = PropertyList::dictionary(), deliveries = PropertyList::array();
    reply.set(kTROVDRunKey, PropertyList::integer(4));
    reply.set(kTROVDRunActiveKey, PropertyList::boolean(true));
    EXPECT_EQ(progressText(AgentReport::fromReply(reply)), "finding tracks");
    reply.set(kTROVDTracksFoundKey, PropertyList::integer(3));
    EXPECT_EQ(progressText(AgentReport::fromReply(reply)), "track 1 of 3");

    deliveries.append(delivery(0, "One", true, "/m/Trovario/One.m4a"));
    deliveries.append(delivery(1, "Two", true, "/m/Trovario/Two.m4a"));
    reply.set(kTROVDDeliveriesKey, deliveries);
    AgentReport report = AgentReport::fromReply(reply);
    EXPECT_EQ(progressText(report), "track 3 of 3");
    // The third track never reported counts as not delivered.
    EXPECT_EQ(std::make_pair(report.runFailed(), runSummary(report)),
              std::make_pair(true, std::string("run 4: 1 of 3 tracks not delivered")));

    deliveries.append(delivery(2, "", false, "/m/Trovario/track 3.m4a", "the music player did not answer"));
    reply.set(kTROVDDeliveriesKey, deliveries);
    report = AgentReport::fromReply(reply);
    EXPECT_EQ(deliveriesText(report), "track 1 \"One\": delivered: /m/Trovario/One.m4a\n"
                                      "track 2 \"Two\": delivered: /m/Trovario/Two.m4a\n"
                                      "track 3: not delivered: the music player did not answer; it stays at "
                                      "/m/Trovario/track 3.m4a\n"
                                      "library folder: /m/Trovario\n");
    reply.set(kTROVDRunErrorKey, PropertyList::string("the disk is full"));
    EXPECT_EQ(runSummary(AgentReport::fromReply(reply)), "run 4 failed: the disk is full (2 of 3 tracks delivered)");

    // Handed to the editor: delivered, with no library folder of ours to name.
    PropertyList editor = PropertyList::array();
    editor.append(delivery(0, "One", true, "Trovario editor"));
    reply.set(kTROVDDeliveriesKey, editor);
    reply.set(kTROVDTracksFoundKey, PropertyList::integer(1));
    reply.remove(kTROVDRunErrorKey);
    report = AgentReport::fromReply(reply);
    EXPECT_EQ(deliveriesText(report) + runSummary(report),
              "track 1 \"One\": delivered: Trovario editor\nrun 4: 1 track found, delivered");
    EXPECT_FALSE(report.runFailed());
}

TEST(Trovarioctl, StatusShowsTheParametersInEffect) {
    PropertyList reply = PropertyList::dictionary();
    reply.set(kTROVDCaptureStateKey, PropertyList::integer(kCaptureRecording));
    reply.set(kTROVDTimeLimitKey, PropertyList::real(5400));
    reply.set(kTROVDSilenceThresholdKey, PropertyList::real(0.001f));
    reply.set(kTROVDLengthOfSilenceKey, PropertyList::real(0.25));
    reply.set(kTROVDMinTrackDurationKey, PropertyList::real(10));
    const Telemetry telemetry{.mState = kAgentStateCapturing, .mStartTime = 62.5f, .mCurrentTrack = {}, .mTotalTracks = {}};
    EXPECT_EQ(statusText(telemetry, AgentReport::fromReply(reply)),
              "state: capturing\ncapture: recording for 00:01:02\nsilence: threshold 0.001, length 0.25 s\n"
              "time limit: 1 h 30 min\nminimum track duration: 10 s\nlast run: none yet\n");
}

TEST(Trovarioctl, OnlyReadableAudioFilesAreHandedOver) {
    TemporaryDirectory dir;
    TemporaryDirectory::write(dir / "notes.txt", "not audio\n");
    TemporaryDirectory::write(dir / "locked.wav", "RIFF");
    ASSERT_EQ(chmod((dir / "locked.wav").c_str(), 0), 0);
    const std::string sound = dir / "sound.wav", empty = dir / "empty.wav";
    int made = -1;
    commandOutput("ffmpeg -loglevel error -f lavfi -i sine=d=0.5 '" + sound + "' && ffmpeg -loglevel error -f lavfi "
                  "-i sine -t 0 '" + empty + "'", &made);
    ASSERT_EQ(made, 0);
    const std::pair<std::string, std::string> refused[] = {
        {dir / "missing.wav", ": no such file"}, {dir.path(), ": not a regular file"},
        {dir / "locked.wav", ": permission denied"}, {dir / "notes.txt", ": not audio"}, {empty, ": not audio"}};
    for (const auto& [file, why] : refused) {
        if (file == dir / "locked.wav" && geteuid() == 0) continue;  // root reads it anyway
        const platform::Result<std::string> checked = checkAudioFile(file);
        EXPECT_EQ(checked.message().substr(0, 12 + file.size() + why.size()), "cannot read " + file + why);
    }
    const platform::Result<std::string> accepted = checkAudioFile(dir.path() + "/./sound.wav");
    EXPECT_EQ(accepted.ok() ? *accepted : accepted.message(), sound);
}

}  // namespace
