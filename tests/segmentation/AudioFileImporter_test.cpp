#include "segmentation/AudioFileImporter.h"

#include "AudioTestSupport.h"
#include "SegmentTestSupport.h"

namespace {

// Two seconds of a tone, at the rate appended.
const std::string kSine = "sine=frequency=440:duration=2:sample_rate=";

struct AudioFileImporterTest : testing::Test {
    AudioFileImporterTest() { importer.setScratchAudioFilePath(scratch); }
    // `name` in the test folder, made by ffmpeg from a generated source.
    std::string make(const std::string& name, const std::string& source, const std::string& options = "") {
        EXPECT_EQ(audiotest::run("ffmpeg -v error -f lavfi -i '" + source + "' " + options + " '" + dir / name + "' 2>&1"), "");
        return dir / name;
    }
    TemporaryDirectory dir;
    const std::string scratch = dir / "scratch/trov_scratch.caf";
    AudioFileImporter importer;
};

TEST_F(AudioFileImporterTest, ConvertsSourcesToTheCaptureScratchFormat) {
    const struct { const char* name; const char* options; int rate; int64_t tolerance; } cases[] = {
        {"stereo.wav", "-ac 2", 44100, 0},      {"mono48k.mp3", "-ac 1", 48000, 2},
        // ADTS states no length and keeps the encoder's priming and padding.
        {"stereo48k.flac", "-ac 2", 48000, 2},  {"headerless.aac", "-ac 2 -f adts", 44100, 2048}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(importer.importFileWithPath(make(c.name, kSine + std::to_string(c.rate), c.options)).ok());
        EXPECT_NEAR(importer.numRecordedFrames(), 88200, c.tolerance);
        EXPECT_EQ(importer.audioSegmentTree()->duration(), double(importer.numRecordedFrames()));
        EXPECT_EQ(audiotest::readAll(scratch).size(), 2 * size_t(importer.numRecordedFrames()));
        EXPECT_EQ(audiotest::probe(scratch, "codec_name,sample_rate,channels"), "pcm_s16be\n44100\n2");
    }
    EXPECT_EQ(std::filesystem::status(dir / "scratch").permissions(), std::filesystem::perms::owner_all);
}

TEST_F(AudioFileImporterTest, AFailedImportLeavesThePreviousRecordingAsItWas) {
    ASSERT_TRUE(importer.importFileWithPath(make("previous.wav", kSine + "44100")).ok());
    const std::string previous = TemporaryDirectory::read(scratch);
    TemporaryDirectory::write(dir / "notes.mp3", "not audio\n");
    TemporaryDirectory::write(dir / "cut.mp3", TemporaryDirectory::read(make("whole.mp3", kSine + "44100")).substr(0, 1000));
    for (const char* name : {"missing.mp3", "notes.mp3", "cut.mp3"}) {
        const std::string message = importer.importFileWithPath(dir / name).message();
        EXPECT_EQ(message.rfind("cannot import " + dir / name + ": ", 0), 0u) << message;
        EXPECT_EQ(TemporaryDirectory::read(scratch), previous) << name;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "scratch"), {}), 1) << name;
    }
}

TEST_F(AudioFileImporterTest, TheSilenceBetweenTwoTonesReachesTheTree) {
    importer.setSilenceThreshold(0.001f);
    importer.setLengthOfSilence(1.0f);
    ASSERT_TRUE(importer.importFileWithPath(make("gap.flac", "aevalsrc=sin(880*PI*t)*not(between(t\\,1\\,3)):s=44100:d=4")).ok());
    importer.mergeSilentTracks();
    EXPECT_EQ(segtest::layout(*importer.audioSegmentTree()), "S44100-132301");
}

}  // namespace
