#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "frameworks/AudioFileDecoder.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;
class FFmpegFileIO;

// Reads an audio file with FFmpeg: demuxes, decodes and converts to the
// client format, or copies common PCM data straight into it.
class FFmpegAudioFileDecoder final : public AudioFileDecoder {
public:
    FFmpegAudioFileDecoder();
    ~FFmpegAudioFileDecoder() override;
    FFmpegAudioFileDecoder(const FFmpegAudioFileDecoder&) = delete;
    FFmpegAudioFileDecoder& operator=(const FFmpegAudioFileDecoder&) = delete;

    int32_t open(const std::string& path, std::string& error) override;
    int32_t setClientFormat(const AudioStreamBasicDescription& clientFormat, std::string& error) override;
    int64_t lengthInFrames() override;
    // After a coarse seek the frames before `frame` are decoded and dropped.
    int32_t seek(int64_t frame, std::string& error) override;
    int32_t read(void* data, uint32_t& frames, std::string& error) override;

    const AudioStreamBasicDescription& fileFormat() const override { return mFileFormat; }
    const AudioStreamBasicDescription& clientFormat() const override { return mClientFormat; }

private:
    int32_t openInput(std::string& error);
    int32_t makeConverter(std::string& error);
    int32_t restart(std::string& error);
    void closeInput();
    int32_t nextFrame(bool& available, std::string& error);
    bool convertible(const AVFrame& frame) const;
    int32_t shapeChanged(const AVFrame& frame, std::string& error);
    int32_t placeSamples(int64_t timestamp, int count, bool& usable, std::string& error);
    int produceDirect(uint8_t* target, int capacity, int32_t& status, std::string& error);
    int32_t nextPacket(std::string& error);
    int32_t feedDecoder(std::string& error);
    int produce(uint8_t* target, int capacity, int32_t& status, std::string& error);
    void framePlanes(const uint8_t** planes) const;
    int32_t failure(int averror, const std::string& what, std::string& error);
    int64_t countFrames();
    int64_t toClientFrames(int64_t fileFrames) const;
    int64_t pcmBitsPerFrame() const;
    int64_t dataAfterHeader() const;

    std::string mPath;
    std::unique_ptr<FFmpegFileIO> mIO;
    AVFormatContext* mContainer = nullptr;
    AVCodecContext* mDecoder = nullptr;
    SwrContext* mConverter = nullptr;
    // What the converter takes: channels, sample format and rate of the
    // stream as it began.
    struct Shape {
        int channels = 0;
        int format = -1;
        int rate = 0;
    };
    Shape mConverterInput;
    // Set when PCM data goes straight into the client format: no decoder, no resampler.
    void (*mDirect)(const uint8_t*, uint8_t*, size_t) = nullptr;
    AVPacket* mPacket = nullptr;
    AVFrame* mFrame = nullptr;
    int mStreamIndex = -1;
    AudioStreamBasicDescription mFileFormat;
    AudioStreamBasicDescription mClientFormat;
    // What the file's header says, before FFmpeg adds estimates from the bit rate.
    struct HeaderLength {
        int64_t duration = -1;  // in the stream's time base
        int64_t frames = 0;     // packets, or frames for PCM data
    };
    HeaderLength mHeaderLength;
    int64_t mDataStart = -1;  // where the container's header ends
    int64_t mLength = -1;
    bool mLengthKnown = false;
    bool mLengthCounted = false;
    bool mDecoderDrained = false;
    bool mConverterFlushed = false;
    bool mPositionKnown = true;
    int64_t mDecodedPosition = 0;  // file frame of the next decoded sample
    int mFrameOffset = 0;          // usable part of mFrame (or, direct, of mPacket) after dropping
    int mFrameCount = 0;
    int64_t mDiscardUntil = 0;     // file frames before this are dropped
    int64_t mClientPosition = 0;   // client frame of the next frame delivered
};
