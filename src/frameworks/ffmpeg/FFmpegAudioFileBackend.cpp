#include "frameworks/ffmpeg/FFmpegAudioFileBackend.h"

#include <sstream>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include "frameworks/ZORAudioStreamBasicDescription.h"
#include "frameworks/ffmpeg/FFmpegAudioFileDecoder.h"
#include "frameworks/ffmpeg/FFmpegAudioFileEncoder.h"
#include "frameworks/ffmpeg/FFmpegFormatMap.h"

namespace {

constexpr uint32_t kAACFramesPerPacket = 1024;
constexpr uint32_t kMaxAACChannels = 8;
// Far above what decoding audio needs at once (the sample table of a day of
// AAC is under 100 MB), far below what a damaged header can ask for: an
// 811-byte MP4 made the demuxer ask for 1.5 GB.
constexpr size_t kLargestAllocation = 256u << 20;

bool acceptsRate(const AVCodec* codec, double rate) {
    if (rate <= 0 || rate != double(int(rate))) return false;
    if (!codec->supported_samplerates) return true;
    for (const int* supported = codec->supported_samplerates; *supported; ++supported)
        if (*supported == int(rate)) return true;
    return false;
}

}  // namespace

FFmpegAudioFileBackend::FFmpegAudioFileBackend() {
    // Failures reach the log through the toolkit's own lines; FFmpeg's chatter on stderr would only repeat them.
    av_log_set_level(AV_LOG_QUIET);
    av_max_alloc(kLargestAllocation);
}

std::unique_ptr<AudioFileDecoder> FFmpegAudioFileBackend::makeDecoder() {
    return std::make_unique<FFmpegAudioFileDecoder>();
}

std::unique_ptr<AudioFileEncoder> FFmpegAudioFileBackend::makeEncoder() {
    return std::make_unique<FFmpegAudioFileEncoder>();
}

int32_t FFmpegAudioFileBackend::formatInfo(AudioStreamBasicDescription& format) {
    AVCodecID codecId = FFmpegFormatMap::codecForFormat(format);
    const AVCodec* codec = codecId == AV_CODEC_ID_NONE ? nullptr : avcodec_find_encoder(codecId);
    if (!codec || format.mChannelsPerFrame == 0 || !acceptsRate(codec, format.mSampleRate))
        return kAudioFormatUnsupportedDataFormatError;
    if (codecId == AV_CODEC_ID_AAC) {
        if (format.mChannelsPerFrame > kMaxAACChannels) return kAudioFormatUnsupportedDataFormatError;
        format.mFramesPerPacket = kAACFramesPerPacket;
        format.mBytesPerPacket = 0;
        format.mBytesPerFrame = 0;
        format.mBitsPerChannel = 0;
        return 0;
    }
    format = ZORAudioStreamBasicDescription::linearPCM(format.mSampleRate, format.mChannelsPerFrame,
                                                       format.mBitsPerChannel, format.mFormatFlags);
    return 0;
}

int32_t FFmpegAudioFileBackend::extensionsForFileType(uint32_t fileType, std::vector<std::string>& extensions) {
    const char* muxer = FFmpegFormatMap::muxerForFileType(fileType);
    const AVOutputFormat* container = muxer ? av_guess_format(muxer, nullptr, nullptr) : nullptr;
    if (!container || !container->extensions) return kAudioFileUnsupportedFileTypeError;
    extensions.clear();
    std::istringstream list(container->extensions);
    for (std::string extension; std::getline(list, extension, ',');) extensions.push_back(extension);
    return 0;
}

extern "C" __attribute__((visibility("default"))) AudioFileBackend* trovAudioFileBackend(uint32_t interfaceVersion) {
    if (interfaceVersion != AudioFileBackend::kInterfaceVersion) return nullptr;
    static FFmpegAudioFileBackend backend;
    return &backend;
}
