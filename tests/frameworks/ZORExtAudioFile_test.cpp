#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>

#include "AudioTestSupport.h"
#include "frameworks/AudioFileBackend.h"
#include "frameworks/AudioFileBackendLoader.h"
#include "frameworks/CAFLinearPCMEncoder.h"
#include "frameworks/ZORExtAudioFile.h"

using namespace audiotest;
using namespace std::string_literals;

namespace {

constexpr size_t kHeaderBytes = 68;  // what our writer puts before the first sample

struct CafChunk {
    std::string tag;
    int64_t size;
    std::string payload;  // a data chunk's without its edit count
};

// The chunks of a CAF file as a reader meets them; a size of -1 runs to the end.
std::vector<CafChunk> cafChunks(const std::string& path) {
    const std::string bytes = TemporaryDirectory::read(path);
    std::vector<CafChunk> chunks;
    for (size_t at = 8; at + 12 <= bytes.size();) {
        int64_t size = 0;
        for (int i = 0; i < 8; ++i) size = size << 8 | uint8_t(bytes[at + 4 + i]);
        const size_t start = at + 12, length = size < 0 ? bytes.size() - start : size_t(size);
        const size_t skip = bytes.compare(at, 4, "data") == 0 ? 4 : 0;
        chunks.push_back({bytes.substr(at, 4), size, bytes.substr(start + skip, length - skip)});
        at = start + length;
    }
    return chunks;
}

// Writes `frames` in blocks of 2048 through our toolkit or through the FFmpeg backend's own encoder.
void writeBlocks(bool withFFmpeg, const std::string& path, const AudioStreamBasicDescription& client,
                 const AudioStreamBasicDescription& fileFormat, std::string frames) {
    std::string whyNot, error;
    AudioFileBackend* backend = AudioFileBackendLoader::backend(whyNot);
    ASSERT_NE(backend, nullptr) << whyNot;
    auto encoder = backend->makeEncoder();
    auto file = ZORExtAudioFile::initForWriting(path, kAudioFileCAFType, client, fileFormat);
    ASSERT_EQ(withFFmpeg ? encoder->open(path, kAudioFileCAFType, client, fileFormat, error) : file->open(), 0);
    const uint32_t count = uint32_t(frames.size() / client.mBytesPerFrame);
    for (uint32_t done = 0; done < count; done += 2048) {
        const uint32_t n = std::min(2048u, count - done);
        char* at = frames.data() + size_t(done) * client.mBytesPerFrame;
        AudioBufferList list{1, {{client.mChannelsPerFrame, n * client.mBytesPerFrame, at}}};
        ASSERT_EQ(withFFmpeg ? encoder->write(at, n, error) : file->write(&list, n), 0) << error;
    }
    ASSERT_EQ(withFFmpeg ? encoder->finish(error) : file->close(), 0) << error;
}

template <typename Sample>
std::string bytesOf(const std::vector<Sample>& samples) {
    return std::string(reinterpret_cast<const char*>(samples.data()), samples.size() * sizeof(Sample));
}

// Noise, then the values where a conversion can go wrong, at the end of a
// block of 2048 frames and again in the short block after it.
std::vector<float> awkwardSamples(uint32_t channels) {
    const std::vector<float> awkward = {1.0f, -1.0f, 1.5f, -2.0f, 100.0f, -65535.0f, -0.0f, 1e-30f, -1e-40f,
                                        0.5f / 32768, 1.5f / 32768, -2.5f / 32768, 32767.5f / 32768,
                                        -32768.5f / 32768, 32766.5f / 32768, 1e-5f, -3e-5f};
    std::vector<float> samples;
    appendNoise(samples, 2048, channels, 1.2f);
    std::copy(awkward.begin(), awkward.end(), samples.end() - awkward.size());
    samples.insert(samples.end(), awkward.begin(), awkward.end());
    samples.resize((samples.size() + channels - 1) / channels * channels, 0.25f);
    return samples;
}

class ZORExtAudioFileTest : public testing::Test {
protected:
    TemporaryDirectory dir;
};
using CAFLinearPCMEncoderTest = ZORExtAudioFileTest;

}  // namespace

TEST_F(CAFLinearPCMEncoderTest, WritesWhatFFmpegWritesSampleForSample) {
    const uint32_t bigEndian = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsBigEndian;
    std::vector<int16_t> integers;
    for (int i = 0; i < 5000; ++i) integers.push_back(int16_t(i * 7919 + (i % 7 == 0 ? 32767 : 0)));
    const struct {
        uint32_t channels;
        double rate;
        uint32_t fileFlags;
        bool floatClient;
    } cases[] = {{2, 44100, bigEndian, true},
                 {1, 48000, kAudioFormatFlagIsSignedInteger, true},
                 {6, 96000, bigEndian, true},
                 {2, 44100, bigEndian, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << " channels, float " << c.floatClient);
        const auto client = ZORAudioStreamBasicDescription::linearPCM(
            c.rate, c.channels, c.floatClient ? 32 : 16,
            c.floatClient ? kAudioFormatFlagIsFloat : kAudioFormatFlagIsSignedInteger);
        const auto fileFormat = ZORAudioStreamBasicDescription::linearPCM(c.rate, c.channels, 16, c.fileFlags);
        ASSERT_TRUE(CAFLinearPCMEncoder::handles(kAudioFileCAFType, client, fileFormat));
        const std::string frames = c.floatClient ? bytesOf(awkwardSamples(c.channels)) : bytesOf(integers);
        const std::string ours = dir / "ours.caf", theirs = dir / "theirs.caf";
        writeBlocks(false, ours, client, fileFormat, frames);
        writeBlocks(true, theirs, client, fileFormat, frames);

        const std::vector<CafChunk> mine = cafChunks(ours), reference = cafChunks(theirs);
        ASSERT_EQ(mine.size(), 2u);
        EXPECT_EQ(mine[0].payload, reference[0].payload);  // rate, 'lpcm', flags, sizes, channels, bits
        EXPECT_EQ(mine[1].size, int64_t(mine[1].payload.size() + 4));
        EXPECT_EQ(mine[1].payload, reference.back().payload);
        EXPECT_EQ(std::filesystem::file_size(ours), kHeaderBytes + mine[1].payload.size());
    }
}

TEST_F(CAFLinearPCMEncoderTest, OutOfRangeSamplesSaturateAndNaNIsSilence) {
    // FFmpeg's own results for these depend on where a sample falls in its buffer.
    const std::vector<float> samples = {NAN, -NAN, INFINITY, -INFINITY, 1e5f, -1e5f, 65536.0f, -65537.0f};
    const std::string path = dir / "wild.caf";
    ASSERT_EQ(writeCaf(path, samples), 0);
    EXPECT_EQ(cafChunks(path)[1].payload, "\0\0\0\0\x7f\xff\x80\0\x7f\xff\x80\0\x7f\xff\x80\0"s);
}

TEST_F(CAFLinearPCMEncoderTest, AFileWhoseWriterDiedIsReadableToItsLastWholeFrame) {
    const std::string path = dir / "trov_scratch.caf";
    const std::vector<float> samples = awkwardSamples(2);
    pid_t child = fork();
    if (child == 0) {
        auto file = ZORExtAudioFile::initForWriting(path, kAudioFileCAFType, standardFormat(), cafFormat());
        AudioBufferList list{1, {{2, uint32_t(samples.size() * 4), const_cast<float*>(samples.data())}}};
        _exit(file->open() == 0 && file->write(&list, uint32_t(samples.size() / 2)) == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(cafChunks(path)[1].size, -1);
    const std::vector<float> expected = readAll(path);
    ASSERT_EQ(expected.size(), samples.size());

    // Half a frame more, as a write cut short by a crash may leave.
    std::ofstream(path, std::ios::app | std::ios::binary) << std::string("\x12\x34", 2);
    EXPECT_TRUE(ffmpegDecode(path) == expected);
    auto reader = opened(path);
    EXPECT_EQ(reader->lengthInFrames(), int64_t(samples.size() / 2));
    EXPECT_TRUE(readRest(*reader) == expected);
}

TEST_F(CAFLinearPCMEncoderTest, AFailedWriteKeepsTheWholeFramesThatReachedTheFileButRemovesAnM4a) {
    const std::string path = dir / "full.caf";
    const size_t keptFrames = 5000;
    auto file = ZORExtAudioFile::initForWriting(path, kAudioFileCAFType, standardFormat(), cafFormat());
    std::vector<float> samples = awkwardSamples(2);
    AudioBufferList list{1, {{2, 2048 * 8, samples.data()}}};
    {
        FileSizeLimit limit(kHeaderBytes + keptFrames * 4 + 2);  // the file ends inside a frame
        ASSERT_EQ(file->open(), 0);
        int32_t status = 0;
        for (int block = 0; block < 4 && status == 0; ++block) status = file->write(&list, 2048);
        EXPECT_EQ(status, kAudioFileDiskFullError);
        EXPECT_EQ(file->writeSynch(&list, 1), kAudioFileDiskFullError);
        EXPECT_EQ(file->close(), kAudioFileDiskFullError);
    }
    EXPECT_EQ(std::filesystem::file_size(path), kHeaderBytes + keptFrames * 4);
    EXPECT_EQ(cafChunks(path)[1].size, int64_t(keptFrames * 4 + 4));
    const std::vector<float> kept = readAll(path);
    ASSERT_EQ(kept.size(), keptFrames * 2);
    EXPECT_EQ(kept[2 * 2048 + 7], kept[7]);  // the same block again

    // An M4A file that cannot be completed is removed.
    std::vector<float> noise;
    appendNoise(noise, 400000, 2, 0.5f);
    FileSizeLimit limit(64 << 10);
    EXPECT_EQ(writeFile(dir / "full.m4a", kAudioFileM4AType, aacFormat(), noise, 2), kAudioFileDiskFullError);
    EXPECT_FALSE(std::filesystem::exists(dir / "full.m4a"));
}

// Only an older file of the user's is replaced; anything else at the path is
// refused and left exactly as it was (the device and the other user's file need root).
TEST_F(CAFLinearPCMEncoderTest, BothWritersReplaceOnlyAnOlderFileOfTheUsers) {
    const std::string victim = dir / "victim";
    TemporaryDirectory::write(victim, "precious");
    const struct {
        const char* kind;
        mode_t type;
        uid_t owner;  // 0: the user's own
    } refused[] = {{"link to a file", S_IFLNK, 0}, {"FIFO", S_IFIFO, 0}, {"folder", S_IFDIR, 0},
                   {"device", S_IFCHR, 0}, {"another user's file", S_IFREG, 9}};
    for (const std::string name : {"scratch.caf", "track.m4a"}) {
        const std::string path = dir / name;
        const uint32_t type = name.ends_with(".caf") ? kAudioFileCAFType : kAudioFileM4AType;
        const auto format = type == kAudioFileCAFType ? cafFormat() : aacFormat();
        ASSERT_EQ(writeFile(path, type, format, std::vector<float>(200, 0.5f), 2), 0) << path;
        ASSERT_EQ(writeFile(path, type, format, std::vector<float>(100, 0.5f), 2), 0) << path;
        EXPECT_EQ(readAll(path).size(), 100u) << path;
        for (const auto& [kind, kindType, owner] : refused) {
            if ((kindType == S_IFCHR || owner) && geteuid() != 0) continue;
            std::filesystem::remove(path);
            const int made = kindType == S_IFLNK ? symlink(victim.c_str(), path.c_str())
                           : kindType == S_IFDIR ? mkdir(path.c_str(), 0700)
                                                 : mknod(path.c_str(), kindType | 0600, makedev(1, 3));
            ASSERT_EQ(made | (owner ? chown(path.c_str(), owner, owner) : 0), 0) << kind;
            struct stat before {}, after {};
            lstat(path.c_str(), &before);
            EXPECT_EQ(writeFile(path, type, format, std::vector<float>(100, 0.5f), 2), kAudioFilePermissionsError)
                << kind;
            ASSERT_EQ(lstat(path.c_str(), &after), 0) << kind;
            EXPECT_EQ(std::tuple(after.st_ino, after.st_mode, after.st_uid, after.st_size),
                      std::tuple(before.st_ino, before.st_mode, before.st_uid, before.st_size)) << kind;
        }
        std::filesystem::remove(path);
    }
    EXPECT_EQ(TemporaryDirectory::read(victim), "precious");
}

// Formats this encoder cannot write, and a client rate it refuses once open.
TEST_F(CAFLinearPCMEncoderTest, OtherFormatsGoToFFmpegAndARateChangeIsRefused) {
    const std::vector<float> samples(2 * 4410, 0.5f);
    const struct {
        const char* name;
        AudioStreamBasicDescription format;
        const char* probed;
    } cases[] = {{"float.caf",
                  ZORAudioStreamBasicDescription::linearPCM(44100, 2, 32,
                                                            kAudioFormatFlagIsFloat | kAudioFormatFlagIsBigEndian),
                  "pcm_f32be\n4410"},
                 {"wide.caf", ZORAudioStreamBasicDescription::linearPCM(44100, 2, 24, kAudioFormatFlagIsSignedInteger),
                  "pcm_s24le\n4410"},
                 {"resampled.caf", cafFormat(2, 48000), "pcm_s16be\n4800"}};
    for (const auto& c : cases) {
        ASSERT_EQ(writeFile(dir / c.name, kAudioFileCAFType, c.format, samples, 2), 0) << c.name;
        EXPECT_EQ(probe(dir / c.name, "codec_name,duration_ts"), c.probed);
    }

    auto file = ZORExtAudioFile::initForWriting(dir / "switch.caf", kAudioFileCAFType, standardFormat(), cafFormat());
    ASSERT_EQ(file->open(), 0);
    auto faster = ZORAudioStreamBasicDescription::linearPCM(48000, 2, 32, kAudioFormatFlagIsFloat);
    EXPECT_EQ(file->setClientStreamFormat(faster), kAudioFileUnsupportedDataFormatError);
}

// Our M4A files record the encoder's delay and padding: exact length, no delay.
// The content, not the name, decides the type.
TEST_F(ZORExtAudioFileTest, SeeksToTheExactFrameKeepsLengthAndTimingAndReadsNothingPastTheEnd) {
    std::vector<float> samples;
    appendTone(samples, 200000, 2, 1000, 0.6f);
    const std::string caf = dir / "seek.caf", m4a = dir / "trov_scratch.caf";
    ASSERT_EQ(writeCaf(caf, samples), 0);
    ASSERT_EQ(writeFile(m4a, kAudioFileM4AType, aacFormat(), samples, 2, 16384), 0);
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
        for (int64_t target : {0, 1, 1023, 1024, 2047, 150000, 123457, 199999, 199990, 200000, 250000}) {
            ASSERT_EQ(file->seek(target), 0);
            EXPECT_TRUE(readRest(*file) == std::vector<float>(whole.begin() + std::min<int64_t>(target, 200000) * 2,
                                                               whole.end())) << target;
        }
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
    EXPECT_EQ(file->lengthInFrames(), 96000);
    ASSERT_EQ(file->setClientStreamFormat(standardFormat()), 0);
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

// A header claiming more than the file holds: the length is what the data holds.
TEST_F(ZORExtAudioFileTest, LengthIsWhatTheDataHoldsNotWhatTheHeaderClaims) {
    std::vector<float> samples;
    appendTone(samples, 1000, 2, 440, 0.5f);
    ASSERT_EQ(writeCaf(dir / "tone.caf", samples), 0);
    const std::string whole = TemporaryDirectory::read(dir / "tone.caf");
    for (const auto& [claimed, held] : std::vector<std::pair<int64_t, size_t>>{{1LL << 31, 1000}, {1LL << 31, 0}, {0, 0}}) {
        std::string bytes = whole.substr(0, kHeaderBytes + held * 4);
        for (int i = 0; i < 8; ++i) bytes[kHeaderBytes - 12 + i] = char(uint64_t(claimed * 4 + 4) >> (56 - 8 * i));
        TemporaryDirectory::write(dir / "claims.caf", bytes);
        auto reader = opened(dir / "claims.caf");
        EXPECT_EQ(reader->lengthInFrames(), int64_t(held)) << claimed;
        EXPECT_EQ(readRest(*reader).size(), held * 2) << claimed;
        // From PCM copied as it is to PCM resampled, after a seek: the packet left from the copy is let go.
        ASSERT_EQ(reader->setClientStreamFormat(ZORAudioStreamBasicDescription::linearPCM(22050, 2, 32, kAudioFormatFlagIsFloat)), 0);
        ASSERT_EQ(reader->seek(0), 0);
        EXPECT_NEAR(double(readRest(*reader).size()), double(held), 2.0) << claimed;
    }
    // The first 1000 bytes of a 5-second MP3 whose header gives its length.
    run("ffmpeg -v error -f lavfi -i sine=duration=5 -b:a 128k '" + (dir / "five.mp3") + "'");
    TemporaryDirectory::write(dir / "cut.mp3", TemporaryDirectory::read(dir / "five.mp3").substr(0, 1000));
    auto reader = opened(dir / "cut.mp3");
    EXPECT_EQ(reader->lengthInFrames(), int64_t(readRest(*reader).size()));
}

TEST_F(ZORExtAudioFileTest, UnreadableInputsGiveAStatus) {
    auto file = ZORExtAudioFile::initForReading(dir / "missing.caf");
    EXPECT_EQ(file->open(), kAudioFileFileNotFoundError);
    EXPECT_EQ(file->lengthInFrames(), 0);

    TemporaryDirectory::write(dir / "notes.caf", "these are not audio frames\n");
    EXPECT_EQ(ZORExtAudioFile::initForReading(dir / "notes.caf")->open(), kAudioFileUnsupportedFileTypeError);
    EXPECT_NE(ZORExtAudioFile::initForReading(dir.path())->open(), 0);
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(ZORExtAudioFile::initForReading(dir / "fifo")->open(), kAudioFileInvalidFileError);

    // Joined MP3s, stereo then mono: a mono frame read as stereo would be read past its end.
    run("ffmpeg -v error -f lavfi -i sine=d=1 -ac 2 '" + (dir / "stereo.mp3") + "' && ffmpeg -v error -f lavfi -i "
        "sine=d=1 -ac 1 '" + (dir / "mono.mp3") + "'");
    TemporaryDirectory::write(dir / "joined.mp3", TemporaryDirectory::read(dir / "stereo.mp3") +
                                                      TemporaryDirectory::read(dir / "mono.mp3"));
    auto joined = opened(dir / "joined.mp3");
    ASSERT_EQ(joined->setClientStreamFormat(standardFormat()), 0);
    EXPECT_LT(readRest(*joined).size(), 2u * 44100u + 2048u);
    EXPECT_NE(joined->lastErrorMessage().find("changes partway from 2 channels"), std::string::npos)
        << joined->lastErrorMessage();
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
