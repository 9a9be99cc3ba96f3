#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "frameworks/CoreAudioTypes.h"

struct AVAudioFifo;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwrContext;
class FFmpegFileIO;

// Writes an audio file with FFmpeg: converts interleaved client frames to the
// encoder's sample format, encodes and muxes them. Every operation returns a
// status and, on failure, fills `error` with a text for the log.
class AudioFileEncoder {
public:
    AudioFileEncoder();
    ~AudioFileEncoder();
    AudioFileEncoder(const AudioFileEncoder&) = delete;
    AudioFileEncoder& operator=(const AudioFileEncoder&) = delete;

    int32_t open(const std::string& path, uint32_t fileType, const AudioStreamBasicDescription& clientFormat,
                 const AudioStreamBasicDescription& fileFormat, std::string& error);
    int32_t setClientFormat(const AudioStreamBasicDescription& clientFormat, std::string& error);
    int32_t write(const void* frames, uint32_t count, std::string& error);
    int32_t flushToDisk(std::string& error);
    // Completes the file. A file that could not be completed gives a non-zero
    // status; an MPEG-4 file is then removed (it cannot be read without its
    // index), a CAF file stays readable up to the last frame that reached it.
    int32_t finish(std::string& error);

    const AudioStreamBasicDescription& fileFormat() const { return mFileFormat; }
    const AudioStreamBasicDescription& clientFormat() const { return mClientFormat; }

private:
    int32_t openContainer(uint32_t fileType, std::string& error);
    int32_t openEncoder(std::string& error);
    int32_t encodeFromFifo(bool all, std::string& error);
    int32_t sendFrame(AVFrame* frame, std::string& error);
    int32_t failure(int averror, const std::string& what, std::string& error);
    void release();

    std::string mPath;
    AudioStreamBasicDescription mClientFormat;
    AudioStreamBasicDescription mFileFormat;
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
