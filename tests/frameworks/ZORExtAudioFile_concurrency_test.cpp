#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "AudioTestSupport.h"
#include "frameworks/AudioFileBackendLoader.h"
#include "frameworks/AudioFormatQueries.h"

using namespace audiotest;

// The recorder's stop closes the scratch file on the main thread while the
// writer thread may be inside a write: the close must wait for it, and later
// writes must fail cleanly.
TEST(ZORExtAudioFileConcurrency, CloseFromAnotherThreadWaitsForTheWriteInProgress) {
    TemporaryDirectory dir;
    const std::string path = dir / "scratch.caf";
    auto file = ZORExtAudioFile::initForWriting(path, kAudioFileCAFType, standardFormat(), cafFormat());
    ASSERT_EQ(file->open(), 0);
    std::atomic<int> written{0};
    std::atomic<bool> refused{false};
    std::thread writer([&] {
        AudioBufferList* list = ZORAudioBufferList::allocateBuffers(1, 2, 2048 * 8);
        for (int i = 0; i < 100000 && !refused; ++i) {
            int32_t status = file->write(list, 2048);
            if (status == 0) ++written;
            else refused = status == kAudioFileNotOpenError;
        }
        ZORAudioBufferList::destroyBuffers(list);
    });
    while (written < 20) std::this_thread::yield();
    EXPECT_EQ(file->close(), 0);
    writer.join();
    EXPECT_TRUE(refused);
    EXPECT_EQ(opened(path)->lengthInFrames(), int64_t(written) * 2048);
}

namespace {

// Several threads make the process's first toolkit calls at the same moment:
// each must find the one loaded backend. Exits 0 when all did.
[[noreturn]] void firstUseFromManyThreads(const std::string& folder) {
    constexpr int kThreads = 4;
    std::atomic<int> ready{0}, served{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            ++ready;
            while (ready < kThreads) std::this_thread::yield();
            AudioStreamBasicDescription aac = aacFormat();
            auto reader = ZORExtAudioFile::initForReading(folder + "/missing" + std::to_string(i) + ".caf");
            if (AudioFormatQueries::formatInfo(aac) == 0 && reader->open() == kAudioFileFileNotFoundError) ++served;
        });
    for (std::thread& thread : threads) thread.join();
    fprintf(stderr, "%d of %d served\n", served.load(), kThreads);
    std::exit(served == kThreads ? 0 : 1);
}

}  // namespace

TEST(AudioFileBackendLoaderDeathTest, ThreadsRacingToTheFirstUseShareOneLoad) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TemporaryDirectory dir;
    EXPECT_EXIT(firstUseFromManyThreads(dir.path()), testing::ExitedWithCode(0), "4 of 4 served");
}
