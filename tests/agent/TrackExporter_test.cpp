#include "agent/TrackExporter.h"

#include "AudioTestSupport.h"
#include "library/SafeFileName.h"
#include "segmentation/AudioSegmentNode.h"
#include "segmentation/AudioSegmentTree.h"
#include "segmentation/AudioSlice.h"
#include "tracks/TROVTrack.h"

constexpr int64_t kChunk = 65536 / 8, kEnd = 5 * 44100;  // copy chunk and recording length, frames

// Spans exported over older files from a toolkit recording; 0 frames: no file, no hand-off.
TEST(TrackExporter, copiesWholeChunksOfTheSpanUpToTheRecordingsEnd) {
    TemporaryDirectory dir;
    std::vector<float> samples;
    audiotest::appendTone(samples, kEnd, 2, 440, 0.5f);
    ASSERT_EQ(audiotest::writeCaf(dir / "scratch.caf", samples), 0);
    std::vector<std::string> handedOver;
    const auto record = [&](const std::string& file, const auto&) { handedOver.push_back(file); return TrackExporter::Delivered(file); };
    TrackExporter exporter{{record, record}, dir / "scratch.caf"};
    const int64_t cases[][3] = {{44100, 44100 + 3 * kChunk, 3 * kChunk}, {0, 10000, 2 * kChunk}, {9, 10, kChunk},
        {kEnd - 1, kEnd, 1}, {kEnd - 1000, kEnd + 50000, 1000}, {5, 5, 0}, {5, 4, 0}, {kEnd + 1, kEnd + 5000, 0}};
    for (const auto& [start, stop, frames] : cases) {
        const std::string file = dir / (std::to_string(start) + "-" + std::to_string(stop) + ".m4a");
        TemporaryDirectory::write(file, "older");
        auto track = TROVTrack::initWithNum(1, "Song");
        track->setStartTime(start);
        track->setStopTime(stop);
        handedOver.clear();
        EXPECT_EQ(bool(exporter.exportTrack(*track, file)), frames > 0) << file;
        EXPECT_EQ(std::filesystem::exists(file) ? audiotest::probe(file, "codec_name,channels,duration_ts") : "",
                  frames ? "aac\n2\n" + std::to_string(frames) : "") << file;
        EXPECT_EQ(handedOver, frames ? std::vector{file} : std::vector<std::string>{}) << file;
    }
    EXPECT_NEAR(std::stod(audiotest::probe(dir / "44100-68676.m4a", "bit_rate")), 256000, 64000);
    auto tree = AudioSegmentTree::create();
    tree->setDuration(kEnd);
    auto slice = AudioSlice::audioSliceWithTree(tree, AudioSegmentNode::silenceSegmentNodeFrom(0, 9.9),
                                                AudioSegmentNode::silenceSegmentNodeFrom(9.9 + kChunk + 0.5, kEnd));
    ASSERT_TRUE(exporter.exportSlice(*slice, dir / "slice.m4a"));
    EXPECT_EQ(audiotest::probe(dir / "slice.m4a", "duration_ts"), std::to_string(kChunk));  // truncated span
}

TEST(TrackExporter, namesStayInsideTheLibraryFolderAndUsersFilesAreKept) {
    TemporaryDirectory home;
    setenv("HOME", home.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "cfg").c_str(), 1);
    TemporaryDirectory::write(home / "Music", "notes");
    TemporaryDirectory::write(home / "Music.moved-aside", "old");
    EXPECT_EQ(TrackExporter::exportPathFor("../AC/DC"), home / "Music/Trovario/-AC-DC.m4a");
    EXPECT_EQ(TemporaryDirectory::read(home / "Music.moved-aside-2"), "notes");
    EXPECT_EQ(TemporaryDirectory::read(home / "Music.moved-aside"), "old");
    std::string accents, r = "\xEF\xBF\xBD";
    for (int i = 0; i < 200; ++i) accents += "é";  // 2 bytes each: 125 fit before ".m4a"
    const std::pair<std::string, std::string> names[] = {{"..", "Untitled"}, {".hidden", "hidden"}, {" \t", "Untitled"},
        {std::string(" a\0b\nc\x7f", 7), "a b c"}, {"x\xff\xc0\x80\xED\xA0\x80", "x" + r + r + r + r + r + r},
        {"Motörhead", "Motörhead"}, {accents, accents.substr(0, 250) + ".m4a"}};
    for (const auto& [name, safe] : names) EXPECT_EQ(safeFileName(name, safe.ends_with(".m4a") ? ".m4a" : ""), safe);
}
