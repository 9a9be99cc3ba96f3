#pragma once

#include <cstdint>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavutil/samplefmt.h>
}

#include "frameworks/CoreAudioTypes.h"

struct AVChannelLayout;
struct AVCodecParameters;
struct SwrContext;

// How the toolkit's stream formats and file types map onto FFmpeg's codecs,
// sample formats and muxers.
namespace FFmpegFormatMap {

// The muxer writing a file type; nullptr for a type we do not write.
const char* muxerForFileType(uint32_t fileType);

// The codec storing data of `format` in a file; AV_CODEC_ID_NONE when unsupported.
AVCodecID codecForFormat(const AudioStreamBasicDescription& format);

// The sample format of a client format: interleaved 32-bit float or 16-bit
// signed integer in native byte order; AV_SAMPLE_FMT_NONE for anything else.
AVSampleFormat sampleFormatForClient(const AudioStreamBasicDescription& format);

// The stream format describing a file's stream as FFmpeg reports it.
AudioStreamBasicDescription formatForStream(const AVCodecParameters& parameters);

// A converter between interleaved or planar sample formats, channel counts and
// rates. Mono is copied into both channels of a stereo output at full level,
// as a mono recording played in stereo sounds. `inLayout` may be nullptr or
// unspecified, then the default layout for `inChannels` is used. nullptr
// with `averror` set on failure.
SwrContext* makeConverter(int inChannels, const AVChannelLayout* inLayout, AVSampleFormat inFormat, int inRate,
                          int outChannels, AVSampleFormat outFormat, int outRate, int& averror);

}  // namespace FFmpegFormatMap
