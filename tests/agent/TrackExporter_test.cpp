#include "agent/TrackExporter.h"

#include "AudioTestSupport.h"
#include "segmentation/AudioSegmentNode.h"
#include "segmentation/AudioSegmentTree.h"
#include "segmentation/AudioSlice.h"
#include "tracks/TROVTrack.h"

namespace fs = std::filesystem;
constexpr int64_t kChunk = 65536 / 8, kEnd = 5 * 44100;  // copy chunk and recording length, frames

// Each span exported over an older file from a toolkit recording; 0 frames: no file, no hand-off.
TEST(TrackExporter, copiesWholeChunksOfTheSpanUpToTheRecordingsEnd) {
    TemporaryDirectory dir;
    std::vector<float> samples;
    audiotest::appendTone(samples, kEnd, 2, 440, 0.5f);
    ASSERT_EQ(audiotest::writeCaf(dir / "scratch.caf", samples), 0);
    std::vector<std::string> handedOver;
    const auto record = [&](const std::string& file, const auto&) { handedOver.push_back(file); };
    TrackExporter exporter{{record, record}, dir / "scratch.caf"};
    const int64_t cases[][3] = {{44100, 44100 + 3 * kChunk, 3 * kChunk}, {0, 10000, 2 * kChunk}, {9, 10, kChunk},
                                {kEnd - 1, kEnd, 1}, {kEnd - 1000, kEnd + 50000, 1000}, {500, 500, 0},
                                {500, 400, 0}, {kEnd + 1, kEnd + 5000, 0}};
    for (const auto& [start, stop, frames] : cases) {
        const std::string file = dir / (std::to_string(start) + "-" + std::to_string(stop) + ".m4a");
        TemporaryDirectory::write(file, "older");
        auto track = TROVTrack::initWithNum(1, "Song");
        track->setStartTime(start);
        track->setStopTime(stop);
        handedOver.clear();
        exporter.exportTrack(*track, file);
        EXPECT_EQ(fs::exists(file) ? audiotest::probe(file, "codec_name,sample_rate,channels,duration_ts") : "",
                  frames ? "aac\n44100\n2\n" + std::to_string(frames) : "") << file;
        EXPECT_EQ(handedOver, frames ? std::vector{file} : std::vector<std::string>{}) << file;
    }
    EXPECT_NEAR(std::stod(audiotest::probe(dir / "44100-68676.m4a", "bit_rate")), 256000, 64000);
    auto tree = AudioSegmentTree::create();
    tree->setDuration(kEnd);
    auto slice = AudioSlice::audioSliceWithTree(tree, AudioSegmentNode::silenceSegmentNodeFrom(0, 9.9),
                                                AudioSegmentNode::silenceSegmentNodeFrom(9.9 + kChunk + 0.5, kEnd));
    exporter.exportSlice(*slice, dir / "slice.m4a");  // 8192 frames: truncated, not rounded up to a second chunk
    EXPECT_EQ(audiotest::probe(dir / "slice.m4a", "duration_ts"), std::to_string(kChunk));
}

TEST(TrackExporter, makesTheLibraryFolderAndKeepsFilesInItsWay) {
    TemporaryDirectory home;
    setenv("HOME", home.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    TemporaryDirectory::write(home / "Music", "the user's notes");
    TemporaryDirectory::write(home / "Music.moved-aside", "older notes");
    EXPECT_EQ(TrackExporter::libraryPath(), home / "Music/Trovario");
    EXPECT_TRUE(fs::is_directory(home / "Music/Trovario"));
    EXPECT_EQ(TemporaryDirectory::read(home / "Music.moved-aside-2"), "the user's notes");
    EXPECT_EQ(TemporaryDirectory::read(home / "Music.moved-aside"), "older notes");
}
