#include "agent/TrackExporter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "AudioTestSupport.h"
#include "segmentation/AudioSegmentNode.h"
#include "segmentation/AudioSegmentTree.h"
#include "segmentation/AudioSlice.h"
#include "tracks/TROVTrack.h"

namespace {

using namespace audiotest;
namespace fs = std::filesystem;

constexpr int64_t kChunk = 65536 / 8;  // frames of one copy chunk (stereo float)
constexpr int64_t kRecordingFrames = 5 * 44100;

// A five-second scratch recording made by the toolkit, and an exporter on it
// that records what it hands over.
class TrackExporterTest : public testing::Test {
protected:
    void SetUp() override {
        std::vector<float> samples;
        appendTone(samples, kRecordingFrames, 2, 440, 0.5f);
        ASSERT_EQ(writeCaf(mDir / "trov_scratch.caf", samples), 0);
    }

    std::shared_ptr<TROVTrack> track(int64_t start, int64_t stop) {
        auto track = TROVTrack::initWithNum(1, "Song");
        track->setStartTime(start);
        track->setStopTime(stop);
        return track;
    }

    TemporaryDirectory mDir;
    std::vector<std::string> mHandedOver;
    TrackExporter mExporter{{[this](const std::string& file, const TROVTrack&) { mHandedOver.push_back(file); }, {}},
                            mDir / "trov_scratch.caf"};
};

struct SpanCase {
    const char* name;
    int64_t start, stop, expectedFrames;
};

TEST_F(TrackExporterTest, copiesWholeChunksFromTheStartUpToTheRecordingsEnd) {
    const SpanCase cases[] = {
        {"three chunks", 44100, 44100 + 3 * kChunk, 3 * kChunk},
        {"a partial chunk rounds up", 0, 10000, 2 * kChunk},
        {"one frame", 1000, 1001, kChunk},
        {"one frame at the end", kRecordingFrames - 1, kRecordingFrames, 1},
        {"past the end", kRecordingFrames - 1000, kRecordingFrames + 50000, 1000},
    };
    for (const auto& c : cases) {
        const std::string file = mDir / (std::string(c.name) + ".m4a");
        mExporter.exportTrack(*track(c.start, c.stop), file);
        EXPECT_EQ(probe(file, "codec_name,sample_rate,channels,duration_ts"),
                  "aac\n44100\n2\n" + std::to_string(c.expectedFrames))
            << c.name;
        ASSERT_FALSE(mHandedOver.empty());
        EXPECT_EQ(mHandedOver.back(), file) << c.name;
    }
    EXPECT_EQ(mHandedOver.size(), std::size(cases));
    const std::string bitRate = probe(mDir / "three chunks.m4a", "bit_rate");
    EXPECT_NEAR(std::stod(bitRate), 256000, 64000);
}

TEST_F(TrackExporterTest, slicesCopyTheirTruncatedSpan) {
    auto tree = AudioSegmentTree::create();
    tree->setDuration(kRecordingFrames);
    auto slice = AudioSlice::audioSliceWithTree(tree, AudioSegmentNode::silenceSegmentNodeFrom(0, 1000.9),
                                                AudioSegmentNode::silenceSegmentNodeFrom(1000.9 + kChunk + 0.5, 90000));
    std::vector<std::string> slicesHandedOver;
    TrackExporter exporter{{{}, [&](const std::string& file, const AudioSlice&) { slicesHandedOver.push_back(file); }},
                           mDir / "trov_scratch.caf"};
    exporter.exportSlice(*slice, mDir / "slice.m4a");
    EXPECT_EQ(probe(mDir / "slice.m4a", "duration_ts"), std::to_string(kChunk));
    EXPECT_EQ(slicesHandedOver, std::vector<std::string>{mDir / "slice.m4a"});
}

TEST_F(TrackExporterTest, replacesAnOlderFile) {
    const std::string file = mDir / "song.m4a";
    TemporaryDirectory::write(file, "not audio");
    mExporter.exportTrack(*track(0, kChunk), file);
    EXPECT_EQ(probe(file, "duration_ts"), std::to_string(kChunk));
    EXPECT_EQ(mHandedOver.size(), 1u);
}

TEST_F(TrackExporterTest, writesNothingAndHandsNothingOverWithoutFrames) {
    const std::string file = mDir / "song.m4a";
    const std::pair<int64_t, int64_t> spans[] = {
        {5000, 5000}, {5000, 4000}, {kRecordingFrames + 10, kRecordingFrames + 5000}};
    for (const auto& [start, stop] : spans) {
        TemporaryDirectory::write(file, "old");
        mExporter.exportTrack(*track(start, stop), file);
        EXPECT_FALSE(fs::exists(file)) << start << ".." << stop;
    }
    TrackExporter withoutRecording{{[this](const std::string& f, const TROVTrack&) { mHandedOver.push_back(f); }, {}},
                                   mDir / "missing.caf"};
    withoutRecording.exportTrack(*track(0, 1000), file);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(mHandedOver.empty());
}

TEST(TrackExporterFolders, libraryFolderIsMadeAndFilesInItsWayAreKept) {
    TemporaryDirectory home;
    setenv("HOME", home.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    EXPECT_EQ(TrackExporter::libraryPath(), home / "Music/Trovario");
    EXPECT_TRUE(fs::is_directory(home / "Music/Trovario"));

    fs::remove_all(home / "Music");
    TemporaryDirectory::write(home / "Music", "the user's notes");
    TemporaryDirectory::write(home / "Music.moved-aside", "an older one");
    TrackExporter::libraryPath();
    EXPECT_TRUE(fs::is_directory(home / "Music/Trovario"));
    EXPECT_EQ(TemporaryDirectory::read(home / "Music.moved-aside-2"), "the user's notes");
    EXPECT_EQ(TemporaryDirectory::read(home / "Music.moved-aside"), "an older one");

    fs::remove(home / "Music/Trovario");
    TemporaryDirectory::write(home / "Music/Trovario", "a file named like the folder");
    TrackExporter::createDirectoryIfNeeded(home / "Music/Trovario");
    EXPECT_TRUE(fs::is_directory(home / "Music/Trovario"));
    EXPECT_EQ(TemporaryDirectory::read(home / "Music/Trovario.moved-aside"), "a file named like the folder");
}

}  // namespace
