#include "platform/UserDefaults.h"

#include "TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using platform::PropertyList;
using platform::UserDefaults;

// A processing worker reads settings while the main thread stores others.
TEST(UserDefaultsConcurrency, ReadersSeeWholeValuesWhileAWriterStores) {
    TemporaryDirectory dir;
    UserDefaults defaults("org.trovario.TrovarioAgent", dir.path());
    defaults.addSuiteNamed("org.trovario.Trovario");
    PropertyList registered = PropertyList::dictionary();
    registered.set("threshold", PropertyList::real(0.03));
    defaults.registerDefaults(registered);
    std::atomic<bool> writing{true};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r)
        readers.emplace_back([&] {
            while (writing) {
                const int64_t counter = defaults.integerForKey("counter");
                wrong += defaults.floatForKey("threshold") != 0.03 || counter < 0 || counter > 50;
            }
        });
    for (int i = 1; i <= 50; ++i) ASSERT_TRUE(defaults.setObject("counter", PropertyList::integer(i)));
    writing = false;
    for (auto& reader : readers) reader.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(UserDefaults("org.trovario.TrovarioAgent", dir.path()).integerForKey("counter"), 50);
}
