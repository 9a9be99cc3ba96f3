#pragma once

#include <cstdint>

// The platform's audio records as the agent exchanges them with the audio
// toolkit: stream formats, buffer lists, four-character codes and the status
// values the toolkit returns.

constexpr uint32_t fourCharCode(const char (&code)[5]) {
    return (uint32_t(uint8_t(code[0])) << 24) | (uint32_t(uint8_t(code[1])) << 16) |
           (uint32_t(uint8_t(code[2])) << 8) | uint32_t(uint8_t(code[3]));
}

struct AudioStreamBasicDescription {
    double mSampleRate = 0;
    uint32_t mFormatID = 0;
    uint32_t mFormatFlags = 0;
    uint32_t mBytesPerPacket = 0;
    uint32_t mFramesPerPacket = 0;
    uint32_t mBytesPerFrame = 0;
    uint32_t mChannelsPerFrame = 0;
    uint32_t mBitsPerChannel = 0;
    uint32_t mReserved = 0;

    bool operator==(const AudioStreamBasicDescription&) const = default;
};

struct AudioBuffer {
    uint32_t mNumberChannels;
    uint32_t mDataByteSize;
    void* mData;
};

// Every list in the agent carries exactly one buffer of interleaved frames.
struct AudioBufferList {
    uint32_t mNumberBuffers;
    AudioBuffer mBuffers[1];
};

// Format ids.
constexpr uint32_t kAudioFormatLinearPCM = fourCharCode("lpcm");
constexpr uint32_t kAudioFormatMPEG4AAC = fourCharCode("aac ");
constexpr uint32_t kAudioFormatMPEGLayer3 = fourCharCode(".mp3");
constexpr uint32_t kAudioFormatFLAC = fourCharCode("flac");
constexpr uint32_t kAudioFormatAppleLossless = fourCharCode("alac");
constexpr uint32_t kAudioFormatOpus = fourCharCode("opus");
constexpr uint32_t kAudioFormatVorbis = fourCharCode("vorb");

// Format flags.
constexpr uint32_t kAudioFormatFlagIsFloat = 1;
constexpr uint32_t kAudioFormatFlagIsBigEndian = 2;
constexpr uint32_t kAudioFormatFlagIsSignedInteger = 4;
constexpr uint32_t kAudioFormatFlagIsPacked = 8;
constexpr uint32_t kAudioFormatFlagIsNonInterleaved = 32;

// File types.
constexpr uint32_t kAudioFileCAFType = fourCharCode("caff");
constexpr uint32_t kAudioFileM4AType = fourCharCode("m4af");

// Status values (0 is success).
constexpr int32_t kAudio_ParamError = -50;
constexpr int32_t kAudioFileNotOpenError = -38;
constexpr int32_t kAudioFileFileNotFoundError = -43;
constexpr int32_t kAudioFileDiskFullError = -34;
constexpr int32_t kAudioFileIOError = -36;
constexpr int32_t kAudioFileUnspecifiedError = int32_t(fourCharCode("wht?"));
constexpr int32_t kAudioFileUnsupportedFileTypeError = int32_t(fourCharCode("typ?"));
constexpr int32_t kAudioFileUnsupportedDataFormatError = int32_t(fourCharCode("fmt?"));
constexpr int32_t kAudioFilePermissionsError = int32_t(fourCharCode("prm?"));
constexpr int32_t kAudioFileInvalidFileError = int32_t(fourCharCode("dta?"));
constexpr int32_t kAudioFileExistsError = int32_t(fourCharCode("!dup"));
constexpr int32_t kAudioFormatUnsupportedDataFormatError = int32_t(fourCharCode("fmt?"));
constexpr int32_t kAudioFormatUnsupportedPropertyError = int32_t(fourCharCode("prop"));
