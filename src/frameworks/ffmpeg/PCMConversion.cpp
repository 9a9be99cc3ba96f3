#include "frameworks/ffmpeg/PCMConversion.h"

#include <cstring>

namespace PCMConversion {
namespace {

inline int16_t s16be(const uint8_t* p) {
    return int16_t(uint16_t(p[0] << 8 | p[1]));
}

inline int16_t s16le(const uint8_t* p) {
    return int16_t(uint16_t(p[1] << 8 | p[0]));
}

inline float f32be(const uint8_t* p) {
    uint32_t bits = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}

inline float f32le(const uint8_t* p) {
    uint32_t bits = uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}

// 1/32768 is a power of two: the product is exactly FFmpeg's conversion.
template <int16_t (*read)(const uint8_t*)>
void int16ToFloat(const uint8_t* in, uint8_t* out, size_t samples) {
    auto* target = reinterpret_cast<float*>(out);
    for (size_t i = 0; i < samples; ++i) target[i] = float(read(in + 2 * i)) * (1.0f / 32768.0f);
}

template <int16_t (*read)(const uint8_t*)>
void int16ToInt16(const uint8_t* in, uint8_t* out, size_t samples) {
    auto* target = reinterpret_cast<int16_t*>(out);
    for (size_t i = 0; i < samples; ++i) target[i] = read(in + 2 * i);
}

template <float (*read)(const uint8_t*)>
void floatToFloat(const uint8_t* in, uint8_t* out, size_t samples) {
    auto* target = reinterpret_cast<float*>(out);
    for (size_t i = 0; i < samples; ++i) target[i] = read(in + 4 * i);
}

}  // namespace

Converter converterFor(AVCodecID fileCodec, AVSampleFormat clientFormat) {
    if (clientFormat == AV_SAMPLE_FMT_FLT) {
        switch (fileCodec) {
            case AV_CODEC_ID_PCM_S16BE: return int16ToFloat<s16be>;
            case AV_CODEC_ID_PCM_S16LE: return int16ToFloat<s16le>;
            case AV_CODEC_ID_PCM_F32BE: return floatToFloat<f32be>;
            case AV_CODEC_ID_PCM_F32LE: return floatToFloat<f32le>;
            default: return nullptr;
        }
    }
    if (clientFormat == AV_SAMPLE_FMT_S16) {
        if (fileCodec == AV_CODEC_ID_PCM_S16BE) return int16ToInt16<s16be>;
        if (fileCodec == AV_CODEC_ID_PCM_S16LE) return int16ToInt16<s16le>;
    }
    return nullptr;
}

int bytesPerSample(AVCodecID fileCodec) {
    return fileCodec == AV_CODEC_ID_PCM_F32BE || fileCodec == AV_CODEC_ID_PCM_F32LE ? 4 : 2;
}

}  // namespace PCMConversion
