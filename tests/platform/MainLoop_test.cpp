#include "platform/MainLoop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

using platform::MainLoop;

namespace {

MainLoop& loop() { return MainLoop::shared(); }

// Lets the loop run for a while, whatever happens in it.
void spin(double seconds) { loop().runUntil([] { return false; }, seconds); }

}  // namespace

// A one-shot timer fires once, by the loop or by hand; a repeating one fired
// by hand runs at once and goes on; an action may remove its own timer.
TEST(MainLoop, TimersFireUntilRemoved) {
    for (bool byHand : {false, true}) {
        int fired = 0;
        const auto id = loop().addTimer(0.01, false, [&] { ++fired; });
        if (byHand) loop().fireTimer(id);
        spin(0.1);
        EXPECT_EQ(fired, 1) << byHand;
        EXPECT_FALSE(loop().isActive(id));
    }
    // This one ends itself on its third firing.
    int repeated = 0;
    const MainLoop::SourceId own = loop().addTimer(0.005, true, [&] {
        if (++repeated == 3) loop().removeSource(own);
    });
    loop().fireTimer(own);
    EXPECT_EQ(repeated, 1);
    spin(0.1);
    loop().removeSource(own);  // gone already, and unknown ids are ignored
    loop().fireTimer(own);
    EXPECT_EQ(repeated, 3);
}

// A timer with no interval must not starve the rest of the loop.
TEST(MainLoop, PostedWorkRunsLaterInOrderBesideABusyTimer) {
    std::vector<int> order;
    int busy = 0;
    const auto timer = loop().addTimer(-1, true, [&] { ++busy; });
    loop().performOnMain([&] {
        order.push_back(1);
        loop().performOnMain([&] { order.push_back(3); });
        order.push_back(2);
    });
    loop().performOnMain([&] { order.push_back(4); });
    EXPECT_TRUE(order.empty());
    EXPECT_TRUE(loop().runUntil([&] { return order.size() == 4 && busy > 2; }, 2.0));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 4, 3}));
    loop().removeSource(timer);
}

TEST(MainLoop, QuitBeforeRunIsNotLostAndRunUntilHasADeadline) {
    loop().quit();
    loop().run();  // returns at once instead of hanging
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(loop().runUntil([] { return false; }, 0.1));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}
