#include "frameworks/AudioFileBackendLoader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "AudioTestSupport.h"
#include "frameworks/AudioFormatQueries.h"

using namespace audiotest;

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
