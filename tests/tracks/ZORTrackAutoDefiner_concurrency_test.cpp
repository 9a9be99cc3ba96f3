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
    ASSERT_EQ(full.value().size(), silences.size() + 1);

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

    ASSERT_TRUE(cancelled && !cancelled->empty());
    EXPECT_LT(cancelled->size(), full->size());
    std::vector<std::pair<int64_t, int64_t>> expected = spans(*full);
    expected.resize(cancelled->size());
    expected.back().second = length;
    EXPECT_EQ(spans(*cancelled), expected);

    // The next definition starts afresh.
    EXPECT_EQ(spans(definer.autoDefineTracksInFile(path, length, 0.03f, 1.3f).value()), spans(*full));
}
