#include "tracks/ZORTrackAutoDefiner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "DefinerTestFiles.h"

using namespace audiotest;
using namespace definertest;

// A cancel from another thread stops the scan: the tracks are cut from the
// silences found so far and the last one still reaches the given length.
TEST(ZORTrackAutoDefinerConcurrency, CancelFromAnotherThreadReturnsTheTracksFoundSoFar) {
    TemporaryDirectory dir;
    const uint32_t length = 44100 * 120;
    std::vector<Quiet> silences;
    for (uint32_t second = 5; second < 120; second += 5) silences.push_back({second * 44100, second * 44100 + 88200});
    const std::string path = dir / "mix.caf";
    ASSERT_EQ(writeCaf(path, recording(length, silences)), 0);

    ZORTrackAutoDefiner definer;
    auto full = definer.autoDefineTracksInFile(path, length, 0.03f, 1.3f);
    ASSERT_TRUE(full);
    ASSERT_EQ(full->size(), silences.size() + 1);

    std::atomic<bool> finished{false};
    std::thread canceller([&] {
        // A cancel before the definition starts is forgotten, so keep sending.
        while (!finished) {
            definer.cancel();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    auto cancelled = definer.autoDefineTracksInFile(path, length, 0.03f, 1.3f);
    finished = true;
    canceller.join();

    ASSERT_TRUE(cancelled);
    ASSERT_FALSE(cancelled->empty());
    EXPECT_LT(cancelled->size(), full->size());
    EXPECT_EQ(cancelled->front()->startTime(), 0);
    EXPECT_EQ(cancelled->back()->stopTime(), length);
    for (size_t i = 0; i + 1 < cancelled->size(); ++i) {
        EXPECT_EQ((*cancelled)[i]->startTime(), (*full)[i]->startTime());
        EXPECT_EQ((*cancelled)[i]->stopTime(), (*full)[i]->stopTime());
    }

    // The next definition starts afresh.
    auto again = definer.autoDefineTracksInFile(path, length, 0.03f, 1.3f);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->size(), full->size());
}
