#pragma once

#include "frameworks/AudioFileBackend.h"

// The toolkit's backend over FFmpeg's libavformat, libavcodec and
// libswresample; the one object the library trov_ffmpeg hands out.
class FFmpegAudioFileBackend final : public AudioFileBackend {
public:
    FFmpegAudioFileBackend();

    std::unique_ptr<AudioFileDecoder> makeDecoder() override;
    std::unique_ptr<AudioFileEncoder> makeEncoder() override;
    // Answered from FFmpeg's codec and muxer tables.
    int32_t formatInfo(AudioStreamBasicDescription& format) override;
    int32_t extensionsForFileType(uint32_t fileType, std::vector<std::string>& extensions) override;
};
