#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "frameworks/AudioFileEncoder.h"

struct AVAudioFifo;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwrContext;
class FFmpegFileIO;

// Writes an audio file with FFmpeg: converts interleaved client frames to the
// encoder's sample format, encodes and muxes them.
class FFmpegAudioFileEncoder final : public AudioFileEncoder {
public:
    FFmpegAudioFileEncoder();
    ~FFmpegAudioFileEncoder() override;
    FFmpegAudioFileEncoder(const FFmpegAudioFileEncoder&) = delete;
    FFmpegAudioFileEncoder& operator=(const FFmpegAudioFileEncoder&) = delete;

    int32_t open(const std::string& path, uint32_t fileType, const AudioStreamBasicDescription& clientFormat,
                 const AudioStreamBasicDescription& fileFormat, std::string& error) override;
    int32_t setClientFormat(const AudioStreamBasicDescription& clientFormat, std::string& error) override;
    int32_t write(const void* frames, uint32_t count, std::string& error) override;
    int32_t flushToDisk(std::string& error) override;
    int32_t finish(std::string& error) override;

private:
    int32_t openContainer(uint32_t fileType, std::string& error);
    int32_t openEncoder(std::string& error);
    int32_t encodeFromFifo(bool all, std::string& error);
    int32_t sendFrame(AVFrame* frame, std::string& error);
    int32_t failure(int averror, const std::string& what, std::string& error);
    void release();

    std::string mPath;
    std::unique_ptr<FFmpegFileIO> mIO;
    AVFormatContext* mContainer = nullptr;
    AVStream* mStream = nullptr;
    AVCodecContext* mEncoder = nullptr;
    SwrContext* mConverter = nullptr;
    AVAudioFifo* mFifo = nullptr;
    AVFrame* mFrame = nullptr;
    AVPacket* mPacket = nullptr;
    int mFrameSize = 0;
    int64_t mNextPts = 0;
    int32_t mFailure = 0;
    bool mRemoveOnFailure = false;
};
