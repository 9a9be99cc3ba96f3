#include <gtest/gtest.h>

#include <filesystem>

#include "AudioTestSupport.h"
#include "frameworks/AudioFormatQueries.h"
#include "frameworks/ZORFileUtils.h"

using namespace audiotest;

TEST(ZORAudioBufferList, AllocatesOneZeroedBufferAndFreesItWhateverMDataPointsTo) {
    AudioBufferList* list = ZORAudioBufferList::allocateBuffers(1, 2, 65536);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->mBuffers[0].mDataByteSize, 65536u);
    const auto* bytes = static_cast<const uint8_t*>(list->mBuffers[0].mData);
    EXPECT_TRUE(std::all_of(bytes, bytes + 65536, [](uint8_t b) { return b == 0; }));
    float mine[4];
    list->mBuffers[0].mData = mine;
    ZORAudioBufferList::destroyBuffers(list);
    EXPECT_EQ(ZORAudioBufferList::allocateBuffers(2, 2, 64), nullptr);
    ZORAudioBufferList::destroyBuffers(ZORAudioBufferList::allocateBuffers(1, 1, 0));
    ZORAudioBufferList::destroyBuffers(nullptr);
}

TEST(AudioFormatQueries, CompletesWhatAnEncoderTakesAndKnowsTheExtensionsWeWrite) {
    AudioStreamBasicDescription aac = aacFormat();
    ASSERT_EQ(AudioFormatQueries::formatInfo(aac), 0);
    EXPECT_EQ(aac.mFramesPerPacket, 1024u);
    AudioStreamBasicDescription odd = aac, none = aac, unknown = aac;
    odd.mSampleRate = 12345;
    none.mChannelsPerFrame = 0;
    unknown.mFormatID = fourCharCode("zzzz");
    for (AudioStreamBasicDescription refused : {odd, none, unknown})
        EXPECT_EQ(AudioFormatQueries::formatInfo(refused), kAudioFormatUnsupportedDataFormatError);
    AudioStreamBasicDescription pcm = cafFormat();
    pcm.mBytesPerFrame = 0;
    ASSERT_EQ(AudioFormatQueries::formatInfo(pcm), 0);
    EXPECT_EQ(pcm.mBytesPerFrame, 4u);

    std::vector<std::string> extensions;
    ASSERT_EQ(AudioFormatQueries::extensionsForFileType(kAudioFileM4AType, extensions), 0);
    EXPECT_NE(std::find(extensions.begin(), extensions.end(), "m4a"), extensions.end());
    ASSERT_EQ(AudioFormatQueries::extensionsForFileType(kAudioFileCAFType, extensions), 0);
    EXPECT_EQ(extensions, std::vector<std::string>{"caf"});
    EXPECT_EQ(AudioFormatQueries::extensionsForFileType(fourCharCode("WAVE"), extensions),
              kAudioFileUnsupportedFileTypeError);
}

TEST(ZORFileUtils, FillsTheReferencesAndSaysWhetherTheirTargetsExist) {
    TemporaryDirectory dir;
    FSRef ref;
    EXPECT_EQ(ZORFileUtils::makeFSRef(ref, dir.path()), 0);
    EXPECT_EQ(ZORFileUtils::makeFSRef(ref, dir / "later.caf"), kAudioFileFileNotFoundError);
    EXPECT_EQ(ref.path, dir / "later.caf");
    FSSpec spec;
    EXPECT_EQ(ZORFileUtils::makeFSSpec(spec, dir / "later.caf"), 0);
    EXPECT_EQ(ZORFileUtils::makeFSSpec(spec, dir / "no/later.caf"), kAudioFileFileNotFoundError);
    std::filesystem::current_path(dir.path());
    EXPECT_EQ(ZORFileUtils::makeFSSpec(spec, "./x/../y.caf"), 0);
    EXPECT_EQ(spec.path, dir / "y.caf");
    std::filesystem::current_path("/");
}
