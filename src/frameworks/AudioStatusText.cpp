#include "frameworks/AudioStatusText.h"

#include "frameworks/CoreAudioTypes.h"

const char* audioStatusText(int32_t status) {
    switch (status) {
        case 0: return "success";
        case kAudio_ParamError: return "an argument is not valid";
        case kAudioFileNotOpenError: return "the file is not open";
        case kAudioFileFileNotFoundError: return "no such file";
        case kAudioFileDiskFullError: return "the disk is full";
        case kAudioFileIOError: return "the file could not be read or written";
        case kAudioFileUnsupportedFileTypeError: return "this kind of file is not supported";
        case kAudioFileUnsupportedDataFormatError: return "this audio format is not supported";
        case kAudioFilePermissionsError: return "permission denied";
        case kAudioFileInvalidFileError: return "the file is damaged or not an audio file";
        case kAudioFileExistsError: return "the file already exists";
        case kAudioFormatUnsupportedPropertyError: return "the property is not supported";
        default: return "the audio toolkit failed";
    }
}
