// The auto-definer, and the trovario-define command built on it, on generated recordings.
#include "tracks/ZORTrackAutoDefiner.h"

#include <gtest/gtest.h>

#include <tuple>

#include "DefinerTestFiles.h"
#include "platform/PropertyList.h"
#include "segmentation/SilenceDetector.h"

using namespace audiotest;
using namespace definertest;
using Spans = std::vector<std::pair<int64_t, int64_t>>;

namespace {

class AutoDefinerTest : public ::testing::Test {
protected:
    // The samples as the recording file (one at a time).
    std::string file(const std::vector<float>& samples) {
        EXPECT_EQ(writeCaf(dir / "recording.caf", samples), 0);
        return dir / "recording.caf";
    }
    std::optional<ZORTrackAutoDefiner::Tracks> define(const std::string& path, uint32_t length, uint32_t silenceFrames,
                                                      float threshold = 0.03f) {
        return definer.autoDefineTracksInFile(path, length, threshold, secondsFor(silenceFrames));
    }
    // The trovario-define command's output and errors; preferences come from the test's own folder.
    std::string defineCommand(const std::string& arguments, int* exitCode = nullptr) {
        return run("XDG_CONFIG_HOME='" + dir.path() + "' '" TROVARIO_DEFINE "' " + arguments + " 2>&1", exitCode);
    }

    TemporaryDirectory dir;
    ZORTrackAutoDefiner definer;
};

}  // namespace

// Recordings of loud noise with quiet stretches, each defined with the given
// length L and silence length N (in frames; the merge gap is 4410, the
// shortest recordable quiet run M is N / 4).
TEST_F(AutoDefinerTest, CutsInTheMiddleOfEachLongSilenceWhereTheEdgeCasesSay) {
    const struct {
        const char* what;
        uint32_t frames;
        std::vector<Quiet> quiet;
        uint32_t length, silenceFrames;
        Spans expected;
        float threshold = 0.03f;
    } cases[] = {
        // Samples at the threshold are silent (see the random recordings below);
        // 0.25 survives the 16-bit file exactly, and one step above it is loud.
        {"one step above the threshold is loud", 200000, {{80000, 100000, 0.25f + 1.0f / 32768}}, 200000, 8000,
         {{0, 200000}}, 0.25f},
        // Alone, each 6000-frame silence is shorter than N.
        {"silences less than a merge gap apart become one", 300000, {{100000, 106000}, {110409, 116409}}, 300000, 8000,
         {{0, 108204}, {108204, 300000}}},
        {"a merge gap apart they stay two", 300000, {{100000, 106000}, {110410, 116410}}, 300000, 8000, {{0, 300000}}},
        {"a trailing silence makes no cut", 300000, {{200000, 300000}}, 300000, 8000, {{0, 300000}}},
        {"a cut within N frames of the end leaves the rest without a track", 500000,
         {{100000, 110000}, {488000, 498000}}, 500000, 8000, {{0, 105000}, {105000, 493000}}},
        {"a cut further from the end", 500000, {{480000, 490000}}, 500000, 8000, {{0, 485000}, {485000, 500000}}},
        {"L equal to N gives no track", 441000, {{200000, 220000}}, 441000, 441000, {}},
        {"N beyond L wraps L - N around: the one track is still made", 441000, {{200000, 220000}}, 441000, 882000,
         {{0, 441000}}},
        // L = 1999 gives blocks of one frame: frames from 1000 on are never looked at.
        {"only the first thousand blocks are examined", 4000, {{0, 500}, {1200, 1500}}, 1999, 100,
         {{0, 250}, {250, 1999}}},
        {"below 1000 frames the blocks are empty", 4000, {{0, 500}, {1200, 1500}}, 999, 100, {{0, 999}}},
        {"a length beyond the file reads nothing more, the last track reaches it", 200000, {{100000, 120000}}, 400000,
         8000, {{0, 110000}, {110000, 400000}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto tracks = define(file(recording(c.frames, c.quiet)), c.length, c.silenceFrames, c.threshold).value();
        EXPECT_EQ(spans(tracks), c.expected);
        for (const auto& track : tracks) EXPECT_EQ(track->trackName(), "Auto-define track");
    }
}

namespace {

// The tracks cut from what the recorder's silence detector, which applies the
// same rule sample by sample, finds in the examined part of `samples`, fed in
// blocks of random lengths as a recording arrives.
Spans detectorDefinition(const std::vector<float>& samples, uint32_t length, float threshold, uint32_t silenceFrames,
                         std::mt19937& random) {
    SilenceDetector detector(threshold, secondsFor(silenceFrames));
    const uint32_t examined = uint32_t(std::min<size_t>(length / 1000 * 1000, samples.size() / 2));
    for (uint32_t done = 0, block = 0; done < examined; done += block) {
        block = std::min(examined - done, std::uniform_int_distribution<uint32_t>(1, 5000)(random));
        detector.detectSilence(samples.data() + 2 * size_t(done), block);
    }
    Spans tracks;
    uint32_t cut = 0;
    for (const SilenceObject& silence : detector.tracks()) {
        if (silence.duration() < int64_t(silenceFrames)) continue;
        const auto middle = uint32_t((silence.startTime() + silence.endTime()) / 2);
        tracks.emplace_back(cut, middle);
        cut = middle;
    }
    if (length - silenceFrames > cut) tracks.emplace_back(cut, length);
    return tracks;
}

// Loud and quiet stretches of random lengths, many of them quiet for just
// about the minimum run M, with quiet values at the threshold, rare quiet
// samples in loud stretches and rare loud samples in quiet ones.
std::vector<float> randomRecording(uint32_t frames, float threshold, uint32_t minimumRun, std::mt19937& random) {
    std::uniform_real_distribution<float> loudLevel(threshold + 0.01f, 0.9f);
    std::uniform_int_distribution<uint32_t> nearMinimum(minimumRun > 2 ? minimumRun - 2 : 1, minimumRun + 3);
    std::uniform_int_distribution<uint32_t> quietLength(1, minimumRun * 6 + 1), loudLength(1, 6000);
    std::uniform_int_distribution<int> choice(0, 999);
    std::vector<float> samples;
    bool quiet = false;
    while (samples.size() < size_t(frames) * 2) {
        const uint32_t run = !quiet ? loudLength(random) : choice(random) < 500 ? nearMinimum(random) : quietLength(random);
        // An odd count now and then shifts the stretches off frame boundaries.
        const uint32_t count = run * 2 + uint32_t(choice(random) % 2);
        for (uint32_t f = 0; f < count; ++f) {
            const int pick = choice(random);
            const bool sampleQuiet = quiet ? pick != 0 : pick == 0;
            float value = sampleQuiet ? (pick % 3 == 0 ? threshold : pick % 3 == 1 ? -threshold : 0.0f)
                                      : loudLevel(random);
            samples.push_back(pick % 2 ? value : -value);
        }
        quiet = !quiet;
    }
    samples.resize(size_t(frames) * 2);
    return samples;
}

}  // namespace

TEST_F(AutoDefinerTest, AgreesWithTheSilenceDetectorOnRandomRecordings) {
    const float threshold = 0.25f;
    std::mt19937 random(2024);
    for (int round = 0; round < 12; ++round) {
        const uint32_t silenceFrames = std::vector<uint32_t>{8, 21, 400, 3000}[round % 4];
        const uint32_t frames = 150000 + 20011 * uint32_t(round);
        const std::string path = file(randomRecording(frames, threshold, silenceFrames / 4, random));
        const uint32_t length = frames - 777 * uint32_t(round % 3);
        SCOPED_TRACE(testing::Message() << "round " << round << " N " << silenceFrames);
        EXPECT_EQ(spans(define(path, length, silenceFrames, threshold).value()),
                  detectorDefinition(readAll(path), length, threshold, silenceFrames, random));
    }
}

// Three pieces of 20, 15 and 10 seconds with two seconds of digital silence
// between them; the preferences give the silence length unless an option does.
TEST_F(AutoDefinerTest, TrovarioDefineCutsAMixtapeInTheMiddleOfEachSilenceAsThePreferencesOrOptionsSay) {
    const uint32_t second = 44100;
    const std::string path =
        "'" + file(recording(49 * second, {{20 * second, 22 * second}, {37 * second, 39 * second}})) + "'";
    int exitCode = -1;
    EXPECT_EQ(defineCommand(path, &exitCode),
              "  1  0:00.00  0:21.00  0:21.00\n"
              "  2  0:21.00  0:38.00  0:17.00\n"
              "  3  0:38.00  0:49.00  0:11.00\n");
    EXPECT_EQ(exitCode, 0);
    const std::string json = defineCommand("--json --sensitivity 0.03 --silence-ms=1000 " + path);
    EXPECT_NE(json.find("\"silenceMs\": 1000"), std::string::npos);
    EXPECT_NE(json.find("{\"number\": 2, \"startFrame\": 926100, \"stopFrame\": 1675800, \"start\": \"0:21.00\", "
                        "\"stop\": \"0:38.00\", \"duration\": \"0:17.00\"}"),
              std::string::npos);
    EXPECT_EQ(defineCommand("--silence-ms 2500 " + path), "  1  0:00.00  0:49.00  0:49.00\n");

    platform::PropertyList preferences = platform::PropertyList::dictionary();
    preferences.set("ZORAutoDefineMinSilenceLengthKey", platform::PropertyList::real(2500));
    TemporaryDirectory::write(dir / "trovario/org.trovario.TrovarioAgent.plist", preferences.toXml());
    EXPECT_EQ(defineCommand(path), "  1  0:00.00  0:49.00  0:49.00\n");
}

// The definer gives nothing for a missing or empty file; the command also says
// why, and refuses what is left of a cut-off file.
// Its missing files and unknown options are left to the tools' own tests.
TEST_F(AutoDefinerTest, MissingOrEmptyFilesGiveNothingAndTrovarioDefineFailsClearly) {
    const std::string empty = file({}), text = dir / "notes.wav", brief = dir / "brief.caf";
    ASSERT_EQ(writeCaf(brief, std::vector<float>(22050, 0.5f)), 0);
    EXPECT_FALSE(define(dir / "missing.caf", 1000, 100));
    EXPECT_FALSE(define(empty, 1000, 100));
    TemporaryDirectory::write(text, "not audio");
    // Arguments, exit code and what the failure must say: unusable files exit 1, usage errors 2.
    for (const auto& [arguments, status, message] : std::vector<std::tuple<std::string, int, std::string>>{
             {"'" + empty + "'", 1, "recording.caf holds no audio frames"}, {"'" + text + "'", 1, "not an audio file"},
             {"'" + brief + "'", 1, "too little for a track"},
             {"--sensitivity -1 x.caf", 2, ""}, {"", 2, ""}}) {
        int exitCode = -1;
        EXPECT_NE(defineCommand(arguments, &exitCode).find(message), std::string::npos) << arguments;
        EXPECT_EQ(exitCode, status) << arguments;
    }
}
