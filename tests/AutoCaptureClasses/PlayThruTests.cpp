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
    AudioStreamBasicDescription interleaved = ASBD_CreateCanonical(44100, 2, true);
    EXPECT_EQ(interleaved.mSampleRate, 44100.0);
    EXPECT_EQ(interleaved.mFormatID, kAudioFormatLinearPCM);
    EXPECT_EQ(interleaved.mFormatFlags, 9u);
    EXPECT_EQ(interleaved.mBytesPerPacket, 8u);
    EXPECT_EQ(interleaved.mFramesPerPacket, 1u);
    EXPECT_EQ(interleaved.mBytesPerFrame, 8u);
    EXPECT_EQ(interleaved.mChannelsPerFrame, 2u);
    EXPECT_EQ(interleaved.mBitsPerChannel, 32u);
    EXPECT_EQ(interleaved.mReserved, 0u);

    AudioStreamBasicDescription planar = ASBD_CreateCanonical(48000, 6, false);
    EXPECT_EQ(planar.mFormatFlags, 41u);
    EXPECT_EQ(planar.mBytesPerPacket, 4u);
    EXPECT_EQ(planar.mBytesPerFrame, 4u);
    EXPECT_EQ(planar.mChannelsPerFrame, 6u);
}
