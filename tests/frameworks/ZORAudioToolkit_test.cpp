#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "AudioTestSupport.h"
#include "frameworks/AudioFileBackendLoader.h"
#include "frameworks/AudioFormatQueries.h"
#include "frameworks/ZORFileUtils.h"
#include "platform/Log.h"

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

TEST(AudioFormatQueries, CompletesWhatAnEncoderTakesAndRefusesWhatNoneTakes) {
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

TEST(AudioFileBackendLoader, SaysWhichLibraryFailed) {
    TemporaryDirectory dir;
    const std::string library = dir / "libtrov_ffmpeg.so";
    std::string whyNot;
    for (const std::string& path : {library, library, std::string("libm.so.6")}) {
        EXPECT_EQ(AudioFileBackendLoader::load(path, whyNot), nullptr);
        EXPECT_NE(whyNot.find(path), std::string::npos) << whyNot;
        TemporaryDirectory::write(library, "not a shared library");
    }
}

namespace {

// Every toolkit call that needs the backend, in a process where it cannot be
// loaded, and one that does not. Prints what went wrong and exits 1, or exits 0.
[[noreturn]] void exerciseToolkitWithoutBackend(const std::string& folder) {
    const std::string library = folder + "/gone/libtrov_ffmpeg.so";
    setenv(AudioFileBackendLoader::kPathVariable, library.c_str(), 1);
    platform::LogCapture log;
    std::vector<std::string> faults;
    auto reader = ZORExtAudioFile::initForReading(folder + "/any.caf");
    if (reader->open() != kAudioFileUnspecifiedError) faults.push_back("the reader opened");
    if (reader->lastErrorMessage().find(library) == std::string::npos) faults.push_back(reader->lastErrorMessage());
    uint32_t frames = 16;
    std::vector<float> samples(32);
    AudioBufferList list{1, {{2, 16 * 8, samples.data()}}};
    if (reader->read(&list, frames) == 0 || frames != 0) faults.push_back("a read succeeded");
    auto writer = ZORExtAudioFile::initForWriting(folder + "/new.m4a", kAudioFileM4AType, standardFormat(), aacFormat());
    if (writer->open() != kAudioFileUnspecifiedError) faults.push_back("the writer opened");
    if (writer->write(&list, 16) == 0) faults.push_back("a write succeeded");
    if (writer->close() != 0) faults.push_back("closing an unopened writer failed");
    if (std::filesystem::exists(folder + "/new.m4a")) faults.push_back("the writer left a file");
    // The scratch recording's format needs no backend.
    if (writeCaf(folder + "/scratch.caf", samples) != 0) faults.push_back("no scratch file");
    AudioStreamBasicDescription aac = aacFormat();
    if (AudioFormatQueries::formatInfo(aac) != kAudioFormatUnsupportedDataFormatError) faults.push_back("formatInfo");
    std::vector<std::string> extensions;
    if (AudioFormatQueries::extensionsForFileType(kAudioFileM4AType, extensions) != kAudioFileUnsupportedFileTypeError)
        faults.push_back("extensionsForFileType");
    // Loaded once, so the remedy is logged once, however many calls failed.
    if (log.count(AudioFileBackendLoader::kPathVariable) != 1) faults.push_back("remedy not logged exactly once");
    for (const std::string& fault : faults) fprintf(stderr, "fault: %s\n", fault.c_str());
    fprintf(stderr, "%zu faults\n", faults.size());
    std::exit(faults.empty() ? 0 : 1);
}

}  // namespace

// A fresh process, since the backend is loaded at most once per process.
TEST(AudioFileBackendLoaderDeathTest, WithoutTheBackendEveryCallFailsCleanlyAndOneLogLineSaysWhy) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TemporaryDirectory dir;
    EXPECT_EXIT(exerciseToolkitWithoutBackend(dir.path()), testing::ExitedWithCode(0), "(^|\n)0 faults");
}
