#include "frameworks/ffmpeg/FFmpegFormatMap.h"

extern "C" {
#include <libavcodec/codec_par.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libswresample/swresample.h>
}

#include "frameworks/ZORAudioStreamBasicDescription.h"

namespace FFmpegFormatMap {
namespace {

struct PCMCodec {
    AVCodecID codec;
    uint32_t bits;
    bool isFloat;
    bool bigEndian;
};

constexpr PCMCodec kPCMCodecs[] = {
    {AV_CODEC_ID_PCM_S16BE, 16, false, true}, {AV_CODEC_ID_PCM_S16LE, 16, false, false},
    {AV_CODEC_ID_PCM_S24BE, 24, false, true}, {AV_CODEC_ID_PCM_S24LE, 24, false, false},
    {AV_CODEC_ID_PCM_S32BE, 32, false, true}, {AV_CODEC_ID_PCM_S32LE, 32, false, false},
    {AV_CODEC_ID_PCM_F32BE, 32, true, true},  {AV_CODEC_ID_PCM_F32LE, 32, true, false},
    {AV_CODEC_ID_PCM_F64BE, 64, true, true},  {AV_CODEC_ID_PCM_F64LE, 64, true, false},
};

struct CompressedCodec {
    AVCodecID codec;
    uint32_t formatID;
};

constexpr CompressedCodec kCompressedCodecs[] = {
    {AV_CODEC_ID_AAC, kAudioFormatMPEG4AAC},  {AV_CODEC_ID_MP3, kAudioFormatMPEGLayer3},
    {AV_CODEC_ID_FLAC, kAudioFormatFLAC},     {AV_CODEC_ID_ALAC, kAudioFormatAppleLossless},
    {AV_CODEC_ID_OPUS, kAudioFormatOpus},     {AV_CODEC_ID_VORBIS, kAudioFormatVorbis},
};

}  // namespace

const char* muxerForFileType(uint32_t fileType) {
    if (fileType == kAudioFileCAFType) return "caf";
    if (fileType == kAudioFileM4AType) return "ipod";
    return nullptr;
}

AVCodecID codecForFormat(const AudioStreamBasicDescription& format) {
    if (format.mFormatID == kAudioFormatMPEG4AAC) return AV_CODEC_ID_AAC;
    if (format.mFormatID != kAudioFormatLinearPCM) return AV_CODEC_ID_NONE;
    if (format.mFormatFlags & kAudioFormatFlagIsNonInterleaved) return AV_CODEC_ID_NONE;
    bool isFloat = format.mFormatFlags & kAudioFormatFlagIsFloat;
    bool bigEndian = format.mFormatFlags & kAudioFormatFlagIsBigEndian;
    if (!isFloat && !(format.mFormatFlags & kAudioFormatFlagIsSignedInteger)) return AV_CODEC_ID_NONE;
    for (const PCMCodec& pcm : kPCMCodecs)
        if (pcm.bits == format.mBitsPerChannel && pcm.isFloat == isFloat && pcm.bigEndian == bigEndian)
            return pcm.codec;
    return AV_CODEC_ID_NONE;
}

AVSampleFormat sampleFormatForClient(const AudioStreamBasicDescription& format) {
    if (format.mFormatID != kAudioFormatLinearPCM || format.mSampleRate <= 0 || format.mChannelsPerFrame == 0)
        return AV_SAMPLE_FMT_NONE;
    if (format.mFormatFlags & (kAudioFormatFlagIsNonInterleaved | kAudioFormatFlagIsBigEndian))
        return AV_SAMPLE_FMT_NONE;
    uint32_t bytes = format.mBitsPerChannel / 8;
    if (format.mBytesPerFrame != bytes * format.mChannelsPerFrame) return AV_SAMPLE_FMT_NONE;
    if ((format.mFormatFlags & kAudioFormatFlagIsFloat) && format.mBitsPerChannel == 32) return AV_SAMPLE_FMT_FLT;
    if ((format.mFormatFlags & kAudioFormatFlagIsSignedInteger) && !(format.mFormatFlags & kAudioFormatFlagIsFloat) &&
        format.mBitsPerChannel == 16)
        return AV_SAMPLE_FMT_S16;
    return AV_SAMPLE_FMT_NONE;
}

AudioStreamBasicDescription formatForStream(const AVCodecParameters& parameters) {
    uint32_t channels = uint32_t(parameters.ch_layout.nb_channels);
    for (const PCMCodec& pcm : kPCMCodecs) {
        if (pcm.codec != parameters.codec_id) continue;
        uint32_t flags = (pcm.isFloat ? kAudioFormatFlagIsFloat : kAudioFormatFlagIsSignedInteger) |
                         (pcm.bigEndian ? kAudioFormatFlagIsBigEndian : 0);
        return ZORAudioStreamBasicDescription::linearPCM(parameters.sample_rate, channels, pcm.bits, flags);
    }
    AudioStreamBasicDescription format;
    format.mSampleRate = parameters.sample_rate;
    format.mChannelsPerFrame = channels;
    format.mFramesPerPacket = uint32_t(parameters.frame_size > 0 ? parameters.frame_size : 0);
    for (const CompressedCodec& compressed : kCompressedCodecs)
        if (compressed.codec == parameters.codec_id) format.mFormatID = compressed.formatID;
    if (format.mFormatID == 0) format.mFormatID = fourCharCode("????");
    return format;
}

SwrContext* makeConverter(int inChannels, const AVChannelLayout* inLayout, AVSampleFormat inFormat, int inRate,
                          int outChannels, AVSampleFormat outFormat, int outRate, int& averror) {
    AVChannelLayout input{}, output{};
    if (inLayout && inLayout->order != AV_CHANNEL_ORDER_UNSPEC && inLayout->nb_channels == inChannels)
        averror = av_channel_layout_copy(&input, inLayout);
    else
        av_channel_layout_default(&input, inChannels);
    av_channel_layout_default(&output, outChannels);
    SwrContext* converter = nullptr;
    averror = swr_alloc_set_opts2(&converter, &output, outFormat, outRate, &input, inFormat, inRate, 0, nullptr);
    if (averror >= 0 && inChannels == 1 && outChannels == 2) {
        const double duplicate[2] = {1.0, 1.0};
        averror = swr_set_matrix(converter, duplicate, 1);
    }
    if (averror >= 0) averror = swr_init(converter);
    av_channel_layout_uninit(&input);
    av_channel_layout_uninit(&output);
    if (averror < 0) swr_free(&converter);
    return converter;
}

}  // namespace FFmpegFormatMap
