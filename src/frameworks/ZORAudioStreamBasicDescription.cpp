#include "frameworks/ZORAudioStreamBasicDescription.h"

#include "platform/AudioConstants.h"

ZORAudioStreamBasicDescription::ZORAudioStreamBasicDescription(const AudioStreamBasicDescription& format)
    : mFormat(format) {}

std::shared_ptr<ZORAudioStreamBasicDescription> ZORAudioStreamBasicDescription::standardFormat(int32_t index) {
    if (index != 0) return nullptr;
    return std::make_shared<ZORAudioStreamBasicDescription>(
        linearPCM(platform::kCaptureSampleRate, 2, 32, kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked));
}

AudioStreamBasicDescription ZORAudioStreamBasicDescription::scratchRecordingFormat() {
    return linearPCM(platform::kCaptureSampleRate, 2, 16, kAudioFormatFlagIsBigEndian | kAudioFormatFlagIsSignedInteger);
}

AudioStreamBasicDescription ZORAudioStreamBasicDescription::linearPCM(double sampleRate, uint32_t channels,
                                                                      uint32_t bitsPerChannel,
                                                                      uint32_t formatFlags) {
    AudioStreamBasicDescription format;
    format.mSampleRate = sampleRate;
    format.mFormatID = kAudioFormatLinearPCM;
    format.mFormatFlags = formatFlags | kAudioFormatFlagIsPacked;
    format.mBytesPerFrame = channels * (bitsPerChannel / 8);
    format.mBytesPerPacket = format.mBytesPerFrame;
    format.mFramesPerPacket = 1;
    format.mChannelsPerFrame = channels;
    format.mBitsPerChannel = bitsPerChannel;
    return format;
}
