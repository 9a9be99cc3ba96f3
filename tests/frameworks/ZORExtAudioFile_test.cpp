#include "frameworks/ZORExtAudioFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include "AudioTestSupport.h"
#include "platform/Log.h"

using namespace audiotest;

namespace {

std::vector<float> musicLike(size_t frames, uint32_t channels = 2) {
    std::vector<float> samples;
    appendTone(samples, frames, channels, 440, 0.5f);
    std::vector<float> noise;
    appendNoise(noise, frames, channels, 0.2f);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] += noise[i];
    return samples;
}

float maxDifference(const std::vector<float>& a, const std::vector<float>& b, size_t from = 0) {
    float worst = 0;
    for (size_t i = from; i < std::min(a.size(), b.size()); ++i) worst = std::max(worst, std::fabs(a[i] - b[i]));
    return worst;
}

// The file at `path`, opened for reading.
std::shared_ptr<ZORExtAudioFile> opened(const std::string& path) {
    auto file = ZORExtAudioFile::initForReading(path);
    EXPECT_EQ(file->open(), 0) << path;
    return file;
}

std::vector<float> readAt(ZORExtAudioFile& file, int64_t frame, uint32_t frames) {
    EXPECT_EQ(file.seek(frame), 0);
    std::vector<float> samples(frames * 2);
    AudioBufferList* list = ZORAudioBufferList::allocateBuffers(1, 2, frames * 8);
    uint32_t count = frames;
    EXPECT_EQ(file.read(list, count), 0);
    std::copy_n(static_cast<float*>(list->mBuffers[0].mData), count * 2, samples.begin());
    samples.resize(count * 2);
    ZORAudioBufferList::destroyBuffers(list);
    return samples;
}

class ZORExtAudioFileTest : public testing::Test {
protected:
    TemporaryDirectory dir;
};

}  // namespace

TEST_F(ZORExtAudioFileTest, CafRoundTripIsExactToSixteenBitQuantisation) {
    std::vector<float> samples = musicLike(100003);
    appendConstant(samples, 10, 2, 1.0f);   // full scale clips to 32767
    appendConstant(samples, 10, 2, -1.0f);  // and -32768
    appendConstant(samples, 10, 2, 0.0f);
    const std::string path = dir / "round.caf";
    ASSERT_EQ(writeCaf(path, samples), 0);

    auto file = opened(path);
    EXPECT_EQ(file->lengthInFrames(), 100033);
    EXPECT_EQ(file->sampleRate(), 44100.0);
    AudioStreamBasicDescription stored = file->fileStreamFormat();
    EXPECT_EQ(stored, cafFormat());
    EXPECT_EQ(stored.mFormatFlags, 14u);
    ASSERT_EQ(file->setClientStreamFormat(standardFormat()), 0);
    std::vector<float> back = readRest(*file);
    ASSERT_EQ(back.size(), samples.size());
    EXPECT_LE(maxDifference(std::vector<float>(back.begin(), back.begin() + 2 * 100003), samples),
              0.5f / 32768 + 1e-7f);
    EXPECT_FLOAT_EQ(back[2 * 100003], 32767.0f / 32768);
    EXPECT_FLOAT_EQ(back[2 * 100013], -1.0f);
    EXPECT_EQ(back.back(), 0.0f);
}

TEST_F(ZORExtAudioFileTest, CafSixteenBitClientFramesComeBackBitExact) {
    const std::string path = dir / "int.caf";
    AudioStreamBasicDescription client = ZORAudioStreamBasicDescription::linearPCM(
        44100, 2, 16, kAudioFormatFlagIsSignedInteger);
    std::vector<int16_t> frames;
    for (int i = 0; i < 30000; ++i) frames.push_back(int16_t(i * 7919));
    auto writer = ZORExtAudioFile::initForWriting(path, kAudioFileCAFType, client, cafFormat());
    ASSERT_EQ(writer->open(), 0);
    AudioBufferList list{1, {{2, uint32_t(frames.size() * 2), frames.data()}}};
    ASSERT_EQ(writer->write(&list, 15000), 0);
    ASSERT_EQ(writer->close(), 0);

    auto reader = opened(path);
    ASSERT_EQ(reader->setClientStreamFormat(client), 0);
    std::vector<int16_t> back(frames.size() + 100);
    AudioBufferList out{1, {{2, uint32_t(back.size() * 2), back.data()}}};
    uint32_t count = 20000;
    ASSERT_EQ(reader->read(&out, count), 0);
    EXPECT_EQ(count, 15000u);
    EXPECT_EQ(out.mBuffers[0].mDataByteSize, 15000u * 4);
    back.resize(frames.size());
    EXPECT_EQ(back, frames);
}

TEST_F(ZORExtAudioFileTest, CafReadsAtAndPastTheEndGiveZeroFramesAndNegativeSeeksAreRefused) {
    const std::string path = dir / "end.caf";
    ASSERT_EQ(writeCaf(path, musicLike(5000)), 0);
    auto file = opened(path);
    AudioBufferList* list = ZORAudioBufferList::allocateBuffers(1, 2, 8000 * 8);
    for (uint32_t expected : {5000u, 0u, 0u, 0u}) {
        uint32_t count = 8000;
        list->mBuffers[0].mDataByteSize = 8000 * 8;
        EXPECT_EQ(file->read(list, count), 0);
        EXPECT_EQ(count, expected);
    }
    ZORAudioBufferList::destroyBuffers(list);
    EXPECT_TRUE(readAt(*file, 9000, 100).empty());
    EXPECT_EQ(file->seek(-1), kAudio_ParamError);
    EXPECT_EQ(readAt(*file, 4990, 100).size(), 20u);
}

TEST_F(ZORExtAudioFileTest, LandsOnTheExactFrameInCafAndM4a) {
    std::vector<float> samples = musicLike(200000);
    const std::string caf = dir / "seek.caf";
    const std::string m4a = dir / "seek.m4a";
    ASSERT_EQ(writeCaf(caf, samples), 0);
    ASSERT_EQ(writeFile(m4a, kAudioFileM4AType, aacFormat(), samples, 2), 0);
    std::mt19937 random(7);
    for (const std::string& path : {caf, m4a}) {
        SCOPED_TRACE(path);
        const std::vector<float> whole = readAll(path);
        ASSERT_EQ(whole.size(), samples.size());
        auto file = opened(path);
        std::vector<int64_t> targets = {0, 1, 1023, 1024, 199999, 150000, 2047};
        for (int i = 0; i < 12; ++i) targets.push_back(std::uniform_int_distribution<int64_t>(0, 199000)(random));
        for (int64_t target : targets) {
            SCOPED_TRACE(target);
            std::vector<float> part = readAt(*file, target, 1000);
            size_t expected = std::min<size_t>(1000, 200000 - target) * 2;
            ASSERT_EQ(part.size(), expected);
            EXPECT_TRUE(std::equal(part.begin(), part.end(), whole.begin() + target * 2));
        }
    }
}

TEST_F(ZORExtAudioFileTest, M4aOpensInFfprobeWithTheExactDuration) {
    const std::string path = dir / "track.m4a";
    std::vector<float> samples;
    appendTone(samples, 66151, 2, 1000, 0.6f);
    ASSERT_EQ(writeFile(path, kAudioFileM4AType, aacFormat(), samples, 2, 44100, 16384), 0);
    EXPECT_EQ(probe(path, "codec_name"), "aac");
    EXPECT_EQ(probe(path, "duration_ts"), "66151");
    EXPECT_EQ(probe(path, "sample_rate"), "44100");

    auto file = opened(path);
    EXPECT_EQ(file->lengthInFrames(), 66151);
    EXPECT_EQ(file->fileStreamFormat().mFormatID, kAudioFormatMPEG4AAC);
    std::vector<float> back = readRest(*file);
    ASSERT_EQ(back.size(), samples.size());
    // Lossy, but in time with the source: no delay, no lost frames.
    double error = 0, energy = 0;
    for (size_t i = 8192; i < back.size(); ++i) {
        error += (back[i] - samples[i]) * (back[i] - samples[i]);
        energy += samples[i] * samples[i];
    }
    EXPECT_LT(error / energy, 1e-3);
}

TEST_F(ZORExtAudioFileTest, M4aWriterReportsTheCompletedAacFormatAndContentDecidesTheType) {
    auto file = ZORExtAudioFile::initForWriting(dir / "f.m4a", kAudioFileM4AType, standardFormat(), aacFormat(1, 48000));
    ASSERT_EQ(file->open(), 0);
    AudioStreamBasicDescription format = file->fileStreamFormat();
    EXPECT_EQ(format.mFormatID, kAudioFormatMPEG4AAC);
    EXPECT_EQ(format.mFramesPerPacket, 1024u);
    EXPECT_EQ(format.mChannelsPerFrame, 1u);
    EXPECT_EQ(format.mSampleRate, 48000.0);
    EXPECT_EQ(file->close(), 0);

    // The importer writes AAC into a path ending in ".caf": content decides, not the name.
    const std::string named = dir / "trov_scratch.caf";
    ASSERT_EQ(writeFile(named, kAudioFileM4AType, aacFormat(), musicLike(30000), 2), 0);
    EXPECT_EQ(opened(named)->fileStreamFormat().mFormatID, kAudioFormatMPEG4AAC);
    EXPECT_EQ(opened(named)->lengthInFrames(), 30000);
}

TEST_F(ZORExtAudioFileTest, DecodesFilesMadeByFfmpegAsFfmpegDoes) {
    // exact: our length is the file's; prefix: ffmpeg also decodes the encoder's padding, which we drop.
    enum Length { exact, prefix, decoded };
    struct Case {
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / c.name;
        run("ffmpeg -v error -f lavfi -i 'sine=f=330:d=3:r=44100' -f lavfi -i 'anoisesrc=d=3:a=0.1:r=44100' "
            "-filter_complex amerge=inputs=2 " + std::string(c.options) + " '" + path + "'");
        std::vector<float> expected = ffmpegDecode(path, "-ac 2");
        ASSERT_GT(expected.size(), 44100u * 2);
        auto file = opened(path);
        ASSERT_EQ(file->setClientStreamFormat(standardFormat()), 0);
        if (c.length != decoded) {
            EXPECT_EQ(file->lengthInFrames(), 3 * 44100);
        }
        std::vector<float> back = readRest(*file);
        if (c.length == prefix) expected.resize(std::min(expected.size(), back.size()));
        ASSERT_EQ(back.size(), expected.size());
        EXPECT_LE(maxDifference(back, expected), 1e-6f);
    }
}

TEST_F(ZORExtAudioFileTest, DecodesOpusAt48kHzIntoTheClientRate) {
    const std::string path = dir / "voice.opus";
    run("ffmpeg -v error -f lavfi -i 'sine=f=440:d=2:r=48000' -ac 2 -c:a libopus '" + path + "'");
    auto file = opened(path);
    EXPECT_EQ(file->fileStreamFormat().mFormatID, kAudioFormatOpus);
    ASSERT_EQ(file->setClientStreamFormat(standardFormat()), 0);
    std::vector<float> back = readRest(*file);
    EXPECT_NEAR(double(back.size() / 2), 88200.0, 600.0);
    auto peak = [](const std::vector<float>& samples) {
        float highest = 0;
        for (float s : samples) highest = std::max(highest, std::fabs(s));
        return highest;
    };
    EXPECT_NEAR(peak(back), peak(ffmpegDecode(path)), 0.01f);
}

TEST_F(ZORExtAudioFileTest, ConvertsRateAndCopiesMonoIntoBothChannels) {
    const std::string path = dir / "mono48k.wav";
    run("ffmpeg -v error -f lavfi -i 'sine=f=440:d=2:r=48000' -af volume=0.5 -c:a pcm_f32le '" + path + "'");
    auto file = opened(path);
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

TEST_F(ZORExtAudioFileTest, UnreadableInputsGiveAStatusAndALogLineNamingTheFile) {
    platform::LogCapture log;
    const std::string missing = dir / "missing.caf";
    auto file = ZORExtAudioFile::initForReading(missing);
    EXPECT_EQ(file->open(), kAudioFileFileNotFoundError);
    EXPECT_EQ(file->lengthInFrames(), 0);
    EXPECT_TRUE(log.contains(missing));
    EXPECT_NE(file->lastErrorMessage().find("No such file"), std::string::npos);

    const std::string text = dir / "notes.caf";
    TemporaryDirectory::write(text, "these are not audio frames\n");
    EXPECT_EQ(ZORExtAudioFile::initForReading(text)->open(), kAudioFileUnsupportedFileTypeError);
    EXPECT_NE(ZORExtAudioFile::initForReading(dir.path())->open(), 0);

    const std::string fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ZORExtAudioFile::initForReading(fifo)->open(), kAudioFileInvalidFileError);

    uint32_t count = 10;
    AudioBufferList* list = ZORAudioBufferList::allocateBuffers(1, 2, 80);
    EXPECT_EQ(file->read(list, count), kAudioFileNotOpenError);
    EXPECT_EQ(count, 0u);
    ZORAudioBufferList::destroyBuffers(list);
}

TEST_F(ZORExtAudioFileTest, UnwritableRequestsFailWithoutLeavingAFile) {
    platform::LogCapture log;
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
    EXPECT_TRUE(log.contains("'WAVE'"));
}

TEST_F(ZORExtAudioFileTest, WriterZeroFramesPrimeTheWriterAndShortBuffersAreRefused) {
    auto file = ZORExtAudioFile::initForWriting(dir / "p.caf", kAudioFileCAFType, standardFormat(), cafFormat());
    EXPECT_EQ(file->write(nullptr, 0), kAudioFileNotOpenError);
    ASSERT_EQ(file->open(), 0);
    EXPECT_EQ(file->write(nullptr, 0), 0);
    AudioBufferList* list = ZORAudioBufferList::allocateBuffers(1, 2, 100 * 8);
    EXPECT_EQ(file->write(list, 101), kAudio_ParamError);
    EXPECT_EQ(file->write(list, 100), 0);
    EXPECT_EQ(file->close(), 0);
    EXPECT_EQ(file->close(), 0);
    EXPECT_EQ(file->write(list, 100), kAudioFileNotOpenError);
    // A closed writer is not opened again: that would wipe the finished file.
    EXPECT_NE(file->open(), 0);
    ZORAudioBufferList::destroyBuffers(list);
    EXPECT_EQ(readAll(dir / "p.caf").size(), 200u);
}

TEST_F(ZORExtAudioFileTest, WriterFramesWrittenSynchronouslyAreReadableBeforeTheClose) {
    const std::string path = dir / "growing.caf";
    auto writer = ZORExtAudioFile::initForWriting(path, kAudioFileCAFType, standardFormat(), cafFormat());
    ASSERT_EQ(writer->open(), 0);
    std::vector<float> samples = musicLike(3000);
    AudioBufferList list{1, {{2, uint32_t(samples.size() * 4), samples.data()}}};
    ASSERT_EQ(writer->writeSynch(&list, 3000), 0);
    // A recording in progress (or left by a crash) still gives its frames.
    std::vector<float> early = readAll(path);
    EXPECT_EQ(early.size(), samples.size());
    EXPECT_LE(maxDifference(early, samples), 0.5f / 32768 + 1e-7f);
    ASSERT_EQ(writer->close(), 0);
}

// What a CAF file keeps of a failed write is tested with its encoder.
TEST_F(ZORExtAudioFileTest, WriterReportsAFullDiskAndRemovesAnUnusableM4a) {
    const std::vector<float> samples = musicLike(400000);
    for (const std::string name : {"full.caf", "full.m4a"}) {
        const std::string path = dir / name;
        const bool caf = name.ends_with(".caf");
        platform::LogCapture log;
        int32_t status;
        {
            FileSizeLimit limit(caf ? 1 << 20 : 64 << 10);
            status = writeFile(path, caf ? kAudioFileCAFType : kAudioFileM4AType, caf ? cafFormat() : aacFormat(),
                               samples, 2);
        }
        EXPECT_EQ(status, kAudioFileDiskFullError) << name;
        EXPECT_TRUE(log.contains(path));
        EXPECT_TRUE(log.contains("File too large"));
        EXPECT_EQ(std::filesystem::exists(path), caf);
    }
}
