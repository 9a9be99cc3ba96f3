#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavutil/samplefmt.h>
}

// Conversion of packed PCM file data straight into client samples, for the
// common pairs where no decoder and no resampler are needed (16-bit or
// 32-bit float data of either byte order to float, 16-bit data to 16-bit).
// The results equal FFmpeg's own conversions bit for bit.
namespace PCMConversion {

using Converter = void (*)(const uint8_t* in, uint8_t* out, size_t samples);

// nullptr when the pair has to take the general path.
Converter converterFor(AVCodecID fileCodec, AVSampleFormat clientFormat);
// Bytes of one sample of the file data.
int bytesPerSample(AVCodecID fileCodec);

}  // namespace PCMConversion
