// An audio file of any content through the toolkit's reader (the FFmpeg
// backend, CAF and WAV PCM included): opened, measured, read to its end in
// float and in 16-bit integer, and sought. The reader must never deliver
// more frames than it said the file holds.

#include <unistd.h>

#include <vector>

#include "frameworks/ZORAudioStreamBasicDescription.h"
#include "frameworks/ZORExtAudioFile.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Log.h"

namespace {

constexpr uint32_t kChunkFrames = 4096;
constexpr int64_t kMostFramesRead = 1 << 22;  // bounds the time one input takes

int64_t readToEnd(ZORExtAudioFile& file) {
    const AudioStreamBasicDescription format = file.clientStreamFormat();
    if (format.mBytesPerFrame == 0) return 0;
    std::vector<uint8_t> block(size_t(kChunkFrames) * format.mBytesPerFrame);
    int64_t total = 0;
    while (total < kMostFramesRead) {
        AudioBufferList list{1, {{format.mChannelsPerFrame, uint32_t(block.size()), block.data()}}};
        uint32_t frames = kChunkFrames;
        if (file.read(&list, frames) != 0 || frames == 0) break;
        total += frames;
    }
    return total;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::scratchHome();
    platform::Log::open("fuzz-audio-file", {.mSystemLog = false, .mForeground = false, .mVerbose = false});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::scratchHome() + "/input.audio";
    fuzz::writeFile(path, fuzz::bytesOf(data, size));
    auto file = ZORExtAudioFile::initForReading(path);
    if (file->open() != 0) return 0;
    const int64_t length = file->lengthInFrames();
    const int64_t read = readToEnd(*file);
    if (length >= 0 && read > length && file->clientStreamFormat().mSampleRate == file->sampleRate())
        fuzz::violation("the reader delivered more frames than the file's length");
    const AudioStreamBasicDescription pcm16 = ZORAudioStreamBasicDescription::linearPCM(
        file->sampleRate(), file->channelsPerFrame(), 16, kAudioFormatFlagIsSignedInteger);
    if (file->setClientStreamFormat(pcm16) == 0 && file->seek(length > 0 ? length / 2 : 0) == 0) readToEnd(*file);
    file->close();
    unlink(path.c_str());
    return 0;
}
