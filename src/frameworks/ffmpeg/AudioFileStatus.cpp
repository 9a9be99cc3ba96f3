#include "frameworks/ffmpeg/AudioFileStatus.h"

extern "C" {
#include <libavutil/error.h>
}

#include "frameworks/AudioFileIO.h"
#include "frameworks/CoreAudioTypes.h"

namespace AudioFileStatus {

int32_t fromAVError(int averror) {
    if (averror >= 0) return 0;
    if (averror == AVERROR_INVALIDDATA || averror == AVERROR_EOF) return kAudioFileInvalidFileError;
    if (averror == AVERROR_DECODER_NOT_FOUND || averror == AVERROR_DEMUXER_NOT_FOUND ||
        averror == AVERROR_PATCHWELCOME)
        return kAudioFileUnsupportedDataFormatError;
    if (averror == AVERROR_ENCODER_NOT_FOUND || averror == AVERROR_MUXER_NOT_FOUND)
        return kAudioFileUnsupportedFileTypeError;
    if (averror > -4096) return AudioFileIO::statusFromErrno(AVUNERROR(averror));
    return kAudioFileUnspecifiedError;
}

std::string avErrorText(int averror) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    return text;
}

}  // namespace AudioFileStatus
