#include "frameworks/ffmpeg/AudioFileStatus.h"

#include <cerrno>

extern "C" {
#include <libavutil/error.h>
}

#include "frameworks/CoreAudioTypes.h"

namespace AudioFileStatus {

int32_t fromErrno(int error) {
    switch (error) {
        case 0: return 0;
        case ENOSPC:
        case EDQUOT:
        case EFBIG: return kAudioFileDiskFullError;
        case ENOENT:
        case ENOTDIR: return kAudioFileFileNotFoundError;
        case EACCES:
        case EPERM:
        case EROFS:
        case ELOOP: return kAudioFilePermissionsError;
        case EEXIST: return kAudioFileExistsError;
        default: return kAudioFileIOError;
    }
}

int32_t fromAVError(int averror) {
    if (averror >= 0) return 0;
    if (averror == AVERROR_INVALIDDATA || averror == AVERROR_EOF) return kAudioFileInvalidFileError;
    if (averror == AVERROR_DECODER_NOT_FOUND || averror == AVERROR_DEMUXER_NOT_FOUND ||
        averror == AVERROR_PATCHWELCOME)
        return kAudioFileUnsupportedDataFormatError;
    if (averror == AVERROR_ENCODER_NOT_FOUND || averror == AVERROR_MUXER_NOT_FOUND)
        return kAudioFileUnsupportedFileTypeError;
    if (averror > -4096) return fromErrno(AVUNERROR(averror));
    return kAudioFileUnspecifiedError;
}

std::string avErrorText(int averror) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    return text;
}

}  // namespace AudioFileStatus
