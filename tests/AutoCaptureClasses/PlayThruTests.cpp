// The render callback's rules and the canonical format, without a server.
#include <gtest/gtest.h>

#include <vector>

#include "AutoCaptureClasses/MySystemCaptureRecorder.h"

TEST(PlayThru, RenderCallbackAdvancesOnlyOnSuccess) {
    AudioRingBuffer ring;
    MySystemCaptureRecorder::RecInfo info;
    info.mAudioRingBuffer = &ring;
    std::vector<float> out(1024, -1.0f);
    AudioBufferList outList{1, {{2, 4096, out.data()}}};
    uint32_t flags = 0;
    // Not even allocated yet: nothing captured.
    EXPECT_EQ(MySystemCaptureRecorder::InputProc(&info, &flags, nullptr, 0, 512, &outList), kRingBufferEndsLate);
    ring.Allocate(2, 8, 512 * 256);
    EXPECT_EQ(MySystemCaptureRecorder::InputProc(&info, &flags, nullptr, 0, 512, &outList), kRingBufferEndsLate);
    EXPECT_EQ(info.mSampleTime, 0);

    std::vector<float> block(1024, 0.25f);
    AudioBufferList blockList{1, {{2, 4096, block.data()}}};
    ring.Store(&blockList, 512, 0);
    EXPECT_EQ(MySystemCaptureRecorder::InputProc(&info, &flags, nullptr, 0, 512, &outList), kRingBufferOK);
    EXPECT_EQ(info.mSampleTime, 512);
    EXPECT_EQ(out[1023], 0.25f);
    EXPECT_EQ(MySystemCaptureRecorder::InputProc(&info, &flags, nullptr, 0, 512, &outList), kRingBufferEndsLate);
    EXPECT_EQ(info.mSampleTime, 512);
}

TEST(PlayThru, CanonicalFormats) {
    EXPECT_EQ(ASBD_CreateCanonical(44100, 2, true),
              (AudioStreamBasicDescription{.mSampleRate = 44100, .mFormatID = kAudioFormatLinearPCM, .mFormatFlags = 9,
                                           .mBytesPerPacket = 8, .mFramesPerPacket = 1, .mBytesPerFrame = 8,
                                           .mChannelsPerFrame = 2, .mBitsPerChannel = 32, .mReserved = 0}));
    EXPECT_EQ(ASBD_CreateCanonical(48000, 6, false),
              (AudioStreamBasicDescription{.mSampleRate = 48000, .mFormatID = kAudioFormatLinearPCM, .mFormatFlags = 41,
                                           .mBytesPerPacket = 4, .mFramesPerPacket = 1, .mBytesPerFrame = 4,
                                           .mChannelsPerFrame = 6, .mBitsPerChannel = 32, .mReserved = 0}));
}
