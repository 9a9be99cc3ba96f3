#pragma once

// Generated audio and file helpers shared by the toolkit's and the tracks' tests.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../platform/TemporaryDirectory.h"
#include "CommandOutput.h"
#include "frameworks/ZORAudioBufferList.h"
#include "frameworks/ZORAudioStreamBasicDescription.h"
#include "frameworks/ZORExtAudioFile.h"

namespace audiotest {

inline AudioStreamBasicDescription standardFormat() {
    return *ZORAudioStreamBasicDescription::standardFormat(0)->audioStreamBasicDescription();
}

// The scratch file's data format: 16-bit big-endian signed integers.
inline AudioStreamBasicDescription cafFormat(uint32_t channels = 2, double rate = 44100) {
    return ZORAudioStreamBasicDescription::linearPCM(rate, channels, 16,
                                                     kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsBigEndian);
}

inline AudioStreamBasicDescription aacFormat() {
    return {.mSampleRate = 44100, .mFormatID = kAudioFormatMPEG4AAC, .mChannelsPerFrame = 2};
}

inline void appendTone(std::vector<float>& samples, size_t frames, uint32_t channels, double frequency,
                       float amplitude) {
    size_t start = samples.size() / channels;
    for (size_t f = 0; f < frames; ++f)
        for (uint32_t c = 0; c < channels; ++c)
            samples.push_back(amplitude * float(std::sin(2 * M_PI * frequency * double(start + f) / 44100 + c)));
}

inline void appendNoise(std::vector<float>& samples, size_t frames, uint32_t channels, float amplitude) {
    std::mt19937 random(1);
    std::uniform_real_distribution<float> value(-amplitude, amplitude);
    for (size_t i = 0; i < frames * channels; ++i) samples.push_back(value(random));
}

// Writes float frames through our writer in chunks of `chunk` frames; the status of the first failure.
inline int32_t writeFile(const std::string& path, uint32_t fileType, const AudioStreamBasicDescription& fileFormat,
                         const std::vector<float>& samples, uint32_t channels, uint32_t chunk = 2048) {
    const auto client = ZORAudioStreamBasicDescription::linearPCM(44100, channels, 32, kAudioFormatFlagIsFloat);
    auto file = ZORExtAudioFile::initForWriting(path, fileType, client, fileFormat);
    int32_t status = file->open();
    const size_t frames = samples.size() / channels;
    for (size_t done = 0; status == 0 && done < frames; done += chunk) {
        uint32_t count = uint32_t(std::min<size_t>(chunk, frames - done));
        AudioBufferList list{1, {{channels, count * client.mBytesPerFrame, const_cast<float*>(&samples[done * channels])}}};
        status = file->writeSynch(&list, count);
    }
    int32_t closed = file->close();
    return status ? status : closed;
}

inline int32_t writeCaf(const std::string& path, const std::vector<float>& samples, uint32_t channels = 2) {
    return writeFile(path, kAudioFileCAFType, cafFormat(channels), samples, channels);
}

// The file at `path`, opened for reading.
inline std::shared_ptr<ZORExtAudioFile> opened(const std::string& path) {
    auto file = ZORExtAudioFile::initForReading(path);
    EXPECT_EQ(file->open(), 0) << path;
    return file;
}

// Reads the remaining frames of an open reader in its client format (float).
inline std::vector<float> readRest(ZORExtAudioFile& file, uint32_t chunk = 4096) {
    const uint32_t channels = file.channelsPerFrame();
    std::vector<float> samples, block(chunk * channels);
    for (uint32_t count = chunk;; count = chunk) {
        AudioBufferList list{1, {{channels, chunk * channels * 4, block.data()}}};
        if (file.read(&list, count) != 0 || count == 0) break;
        samples.insert(samples.end(), block.begin(), block.begin() + count * channels);
    }
    return samples;
}

// The whole file decoded to the standard format (or `client`).
inline std::vector<float> readAll(const std::string& path, const AudioStreamBasicDescription& client = standardFormat()) {
    auto file = ZORExtAudioFile::initForReading(path);
    if (file->open() != 0 || file->setClientStreamFormat(client) != 0) return {};
    return readRest(*file);
}

inline std::string run(const std::string& command, int* exitCode = nullptr) {
    return commandOutput(command, exitCode);
}

// A stream property as ffprobe reports it, e.g. "duration_ts" or "codec_name".
inline std::string probe(const std::string& path, const std::string& entry) {
    std::string value = run("ffprobe -v error -select_streams a:0 -show_entries stream=" + entry +
                            " -of default=nw=1:nk=1 '" + path + "'");
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
    return value;
}

// What FFmpeg's own command-line tool decodes from a file, as interleaved floats.
inline std::vector<float> ffmpegDecode(const std::string& path, const std::string& options = "") {
    std::string bytes = run("ffmpeg -v error -i '" + path + "' " + options + " -f f32le -");
    std::vector<float> samples(bytes.size() / 4);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 4);
    return samples;
}

}  // namespace audiotest
