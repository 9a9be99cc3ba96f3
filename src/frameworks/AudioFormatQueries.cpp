#include "frameworks/AudioFormatQueries.h"

#include <sstream>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "frameworks/FFmpegFormatMap.h"
#include "frameworks/ZORAudioStreamBasicDescription.h"

namespace AudioFormatQueries {
namespace {

constexpr uint32_t kAACFramesPerPacket = 1024;
constexpr uint32_t kMaxAACChannels = 8;

bool acceptsRate(const AVCodec* codec, double rate) {
    if (rate <= 0 || rate != double(int(rate))) return false;
    if (!codec->supported_samplerates) return true;
    for (const int* supported = codec->supported_samplerates; *supported; ++supported)
        if (*supported == int(rate)) return true;
    return false;
}

}  // namespace

int32_t formatInfo(AudioStreamBasicDescription& format) {
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

int32_t extensionsForFileType(uint32_t fileType, std::vector<std::string>& extensions) {
    const char* muxer = FFmpegFormatMap::muxerForFileType(fileType);
    const AVOutputFormat* container = muxer ? av_guess_format(muxer, nullptr, nullptr) : nullptr;
    if (!container || !container->extensions) return kAudioFileUnsupportedFileTypeError;
    extensions.clear();
    std::istringstream list(container->extensions);
    for (std::string extension; std::getline(list, extension, ',');) extensions.push_back(extension);
    return 0;
}

}  // namespace AudioFormatQueries
