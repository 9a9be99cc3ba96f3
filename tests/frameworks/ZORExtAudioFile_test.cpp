#include "frameworks/ZORExtAudioFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "AudioTestSupport.h"

using namespace audiotest;

namespace {

// The file at `path`, opened for reading.
std::shared_ptr<ZORExtAudioFile> opened(const std::string& path) {
    auto file = ZORExtAudioFile::initForReading(path);
    EXPECT_EQ(file->open(), 0) << path;
    return file;
}

std::vector<float> readAt(ZORExtAudioFile& file, int64_t frame, uint32_t frames) {
    EXPECT_EQ(file.seek(frame), 0);
    std::vector<float> samples(frames * 2);
    AudioBufferList list{1, {{2, frames * 8, samples.data()}}};
    EXPECT_EQ(file.read(&list, frames), 0);
    samples.resize(frames * 2);
    return samples;
}

class ZORExtAudioFileTest : public testing::Test {
protected:
    TemporaryDirectory dir;
};

}  // namespace

// Our M4A files record the encoder's delay and padding: exact length, no delay.
// The content, not the name, decides the type.
TEST_F(ZORExtAudioFileTest, SeeksToTheExactFrameKeepsLengthAndTimingAndReadsNothingPastTheEnd) {
    std::vector<float> samples;
    appendTone(samples, 200000, 2, 1000, 0.6f);
    const std::string caf = dir / "seek.caf", m4a = dir / "trov_scratch.caf";
    ASSERT_EQ(writeCaf(caf, samples), 0);
    ASSERT_EQ(writeFile(m4a, kAudioFileM4AType, aacFormat(), samples, 2, 44100, 16384), 0);
    EXPECT_EQ(probe(m4a, "codec_name,sample_rate,duration_ts"), "aac\n44100\n200000");
    for (const std::string& path : {caf, m4a}) {
        SCOPED_TRACE(path);
        const std::vector<float> whole = readAll(path);
        ASSERT_EQ(whole.size(), samples.size());
        double error = 0, energy = 0;
        for (size_t i = 8192; i < whole.size(); ++i) {
            error += (whole[i] - samples[i]) * (whole[i] - samples[i]);
            energy += samples[i] * samples[i];
        }
        EXPECT_LT(error / energy, 1e-3);
        auto file = opened(path);
        EXPECT_EQ(file->lengthInFrames(), 200000);
        for (int64_t target : {0, 1, 1023, 1024, 2047, 150000, 123457, 199999, 199990, 200000}) {
            std::vector<float> part = readAt(*file, target, 1000);
            ASSERT_EQ(part.size(), std::min<size_t>(1000, 200000 - target) * 2) << target;
            EXPECT_TRUE(std::equal(part.begin(), part.end(), whole.begin() + target * 2)) << target;
        }
        EXPECT_TRUE(readAt(*file, 250000, 100).empty());
        EXPECT_EQ(file->seek(-1), kAudio_ParamError);
    }
}

TEST_F(ZORExtAudioFileTest, DecodesFilesMadeByFfmpegAsFfmpegDoes) {
    // exact: our length is the file's; prefix: ffmpeg also decodes the encoder's padding, which we drop.
    enum Length { exact, prefix, decoded };
    const struct {
        const char* name;
        const char* options;
        Length length;
    } cases[] = {
        {"tone.wav", "-c:a pcm_s16le", exact},     {"tone.aiff", "-c:a pcm_s16be", exact},
        {"tone.flac", "", exact},                  {"tone.mp3", "-b:a 192k", decoded},
        {"tone.ogg", "-c:a libvorbis", decoded},   {"tone24.wav", "-c:a pcm_s24le", exact},
        {"float.wav", "-c:a pcm_f32le", exact},    {"float.caf", "-c:a pcm_f32be", exact},
        {"tone.caf", "-c:a pcm_s16be", exact},     {"tone.m4a", "-c:a aac", prefix},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / c.name;
        run("ffmpeg -v error -f lavfi -i 'sine=f=330:d=3:r=44100' -f lavfi -i 'anoisesrc=d=3:a=0.1:r=44100' "
            "-filter_complex amerge=inputs=2 " + std::string(c.options) + " '" + path + "'");
        std::vector<float> expected = ffmpegDecode(path, "-ac 2");
        ASSERT_GT(expected.size(), 44100u * 2);
        auto file = opened(path);
        ASSERT_EQ(file->setClientStreamFormat(standardFormat()), 0);
        EXPECT_TRUE(c.length == decoded || file->lengthInFrames() == 3 * 44100) << file->lengthInFrames();
        std::vector<float> back = readRest(*file);
        if (c.length == prefix) expected.resize(std::min(expected.size(), back.size()));
        ASSERT_EQ(back.size(), expected.size());
        for (size_t i = 0; i < back.size(); ++i) ASSERT_NEAR(back[i], expected[i], 1e-6f) << i;
    }
}

TEST_F(ZORExtAudioFileTest, ConvertsRateAndCopiesMonoIntoBothChannels) {
    const std::string wav = dir / "mono48k.wav";
    run("ffmpeg -v error -f lavfi -i 'sine=f=440:d=2:r=48000' -af volume=0.5 -c:a pcm_f32le '" + wav + "'");
    auto file = opened(wav);
    EXPECT_EQ(file->channelsPerFrame(), 1u);
    EXPECT_EQ(file->lengthInFrames(), 96000);
    ASSERT_EQ(file->setClientStreamFormat(standardFormat()), 0);
    EXPECT_EQ(file->channelsPerFrame(), 2u);
    std::vector<float> back = readRest(*file);
    EXPECT_NEAR(double(back.size() / 2), 88200.0, 2.0);
    float peak = 0;
    for (size_t i = 0; i + 1 < back.size(); i += 2) {
        ASSERT_EQ(back[i], back[i + 1]);
        peak = std::max(peak, std::fabs(back[i]));
    }
    // ffmpeg's sine source has amplitude 1/8; the volume filter halves it.
    EXPECT_NEAR(peak, 0.0625f, 0.002f);
}

TEST_F(ZORExtAudioFileTest, UnreadableInputsGiveAStatus) {
    auto file = ZORExtAudioFile::initForReading(dir / "missing.caf");
    EXPECT_EQ(file->open(), kAudioFileFileNotFoundError);
    EXPECT_EQ(file->lengthInFrames(), 0);
    uint32_t count = 10;
    AudioBufferList list{1, {{2, 80, nullptr}}};
    EXPECT_EQ(file->read(&list, count), kAudioFileNotOpenError);
    EXPECT_EQ(count, 0u);

    TemporaryDirectory::write(dir / "notes.caf", "these are not audio frames\n");
    EXPECT_EQ(ZORExtAudioFile::initForReading(dir / "notes.caf")->open(), kAudioFileUnsupportedFileTypeError);
    EXPECT_NE(ZORExtAudioFile::initForReading(dir.path())->open(), 0);
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(ZORExtAudioFile::initForReading(dir / "fifo")->open(), kAudioFileInvalidFileError);
}

TEST_F(ZORExtAudioFileTest, UnwritableRequestsFailWithoutLeavingAFile) {
    AudioStreamBasicDescription planar = standardFormat();
    planar.mFormatFlags |= kAudioFormatFlagIsNonInterleaved;
    const struct {
        std::string path;
        uint32_t type;
        AudioStreamBasicDescription client;
        int32_t status;
    } cases[] = {{dir / "no/such/folder/x.caf", kAudioFileCAFType, standardFormat(), kAudioFileFileNotFoundError},
                 {dir / "x.wav", fourCharCode("WAVE"), standardFormat(), kAudioFileUnsupportedFileTypeError},
                 {dir / "x.m4a", kAudioFileM4AType, standardFormat(), kAudioFileUnsupportedDataFormatError},
                 {dir / "y.caf", kAudioFileCAFType, planar, kAudioFileUnsupportedDataFormatError}};
    for (const auto& c : cases) {
        EXPECT_EQ(ZORExtAudioFile::initForWriting(c.path, c.type, c.client, cafFormat())->open(), c.status) << c.path;
        EXPECT_FALSE(std::filesystem::exists(c.path)) << c.path;
    }
}

TEST_F(ZORExtAudioFileTest, WriterTakesZeroFramesRefusesShortBuffersAndIsNeverReopened) {
    auto file = ZORExtAudioFile::initForWriting(dir / "p.caf", kAudioFileCAFType, standardFormat(), cafFormat());
    EXPECT_EQ(file->write(nullptr, 0), kAudioFileNotOpenError);
    ASSERT_EQ(file->open(), 0);
    EXPECT_EQ(file->write(nullptr, 0), 0);
    std::vector<float> samples(200, 0.25f);
    AudioBufferList list{1, {{2, 100 * 8, samples.data()}}};
    EXPECT_EQ(file->write(&list, 101), kAudio_ParamError);
    EXPECT_EQ(file->write(&list, 100), 0);
    EXPECT_EQ(file->close(), 0);
    EXPECT_EQ(file->close(), 0);
    EXPECT_EQ(file->write(&list, 100), kAudioFileNotOpenError);
    // A closed writer is not opened again: that would wipe the finished file.
    EXPECT_NE(file->open(), 0);
    EXPECT_EQ(readAll(dir / "p.caf").size(), 200u);
}

// What a CAF file keeps of a failed write is tested with its encoder.
TEST_F(ZORExtAudioFileTest, AnM4aThatCannotBeCompletedIsRemoved) {
    const std::string path = dir / "full.m4a";
    std::vector<float> noise;
    appendNoise(noise, 400000, 2, 0.5f);
    const int32_t status = [&] {
        FileSizeLimit limit(64 << 10);
        return writeFile(path, kAudioFileM4AType, aacFormat(), noise, 2);
    }();
    EXPECT_EQ(status, kAudioFileDiskFullError);
    EXPECT_FALSE(std::filesystem::exists(path));
}
