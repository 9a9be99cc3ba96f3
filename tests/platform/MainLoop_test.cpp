#include "platform/MainLoop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <unistd.h>
#include <vector>

using platform::MainLoop;

namespace {

MainLoop& loop() { return MainLoop::shared(); }

// Lets the loop run for a while, whatever happens in it.
void spin(double seconds) {
    loop().runUntil([] { return false; }, seconds);
}

}  // namespace

// Fired by hand, it runs at once, before the loop does.
TEST(MainLoopTimers, OneShotFiresOnceByTheLoopOrByHandAndIsThenGone) {
    for (bool byHand : {false, true}) {
        int fired = 0;
        const auto id = loop().addTimer(0.01, false, [&] { ++fired; });
        EXPECT_NE(id, 0u);
        if (byHand) loop().fireTimer(id);
        else EXPECT_TRUE(loop().runUntil([&] { return fired > 0; }, 2.0));
        EXPECT_EQ(fired, 1);
        EXPECT_FALSE(loop().isActive(id));
        spin(0.05);
        EXPECT_EQ(fired, 1) << byHand;
    }
}

TEST(MainLoopTimers, RepeatingTimerKeepsFiringUntilRemoved) {
    int fired = 0;
    const auto id = loop().addTimer(0.005, true, [&] { ++fired; });
    EXPECT_TRUE(loop().runUntil([&] { return fired >= 3; }, 2.0));
    loop().removeSource(id);
    const int atRemoval = fired;
    spin(0.05);
    EXPECT_EQ(fired, atRemoval);
    EXPECT_FALSE(loop().isActive(id));

    // An action may remove its own timer.
    int selfRemoved = 0;
    MainLoop::SourceId own = 0;
    own = loop().addTimer(0.005, true, [&] {
        ++selfRemoved;
        loop().removeSource(own);
    });
    spin(0.1);
    EXPECT_FALSE(loop().isActive(own));
    loop().removeSource(own);  // gone already, and unknown ids are ignored
    loop().fireTimer(own);
    loop().removeSource(987654);
    EXPECT_EQ(selfRemoved, 1);
}

TEST(MainLoopTimers, FireRunsARepeatingTimerNowAndKeepsItsSchedule) {
    std::vector<std::chrono::steady_clock::time_point> firings;
    const auto start = std::chrono::steady_clock::now();
    const auto id = loop().addTimer(0.2, true, [&] { firings.push_back(std::chrono::steady_clock::now()); });
    loop().fireTimer(id);
    ASSERT_EQ(firings.size(), 1u);  // synchronously, before the loop runs
    EXPECT_TRUE(loop().isActive(id));
    EXPECT_TRUE(loop().runUntil([&] { return firings.size() >= 2; }, 2.0));
    // The scheduled firing still comes one interval after creation.
    EXPECT_GE(firings[1] - start, std::chrono::milliseconds(190));
    loop().removeSource(id);
}

TEST(MainLoopTimers, NonPositiveIntervalsStillYield) {
    int fired = 0, other = 0;
    const auto busy = loop().addTimer(-1, true, [&] { ++fired; });
    loop().performOnMain([&] { ++other; });
    EXPECT_TRUE(loop().runUntil([&] { return other == 1 && fired > 2; }, 2.0));
    loop().removeSource(busy);
}

TEST(MainLoopFdWatch, CallsWhileReadableStopsWhenToldToAndReportsHangUp) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    int calls = 0;
    std::string received;
    const auto id = loop().addFdWatch(fds[0], [&] {
        char buffer[16];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n > 0) received.append(buffer, size_t(n));
        return ++calls < 2;
    });
    ASSERT_EQ(write(fds[1], "ab", 2), 2);
    EXPECT_TRUE(loop().runUntil([&] { return calls == 1; }, 2.0));
    ASSERT_EQ(write(fds[1], "cd", 2), 2);
    EXPECT_TRUE(loop().runUntil([&] { return calls == 2; }, 2.0));
    EXPECT_FALSE(loop().isActive(id));
    ASSERT_EQ(write(fds[1], "ef", 2), 2);
    spin(0.05);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(received, "abcd");

    // The writer's hang-up is reported as readable, with end of file.
    bool eof = false;
    loop().addFdWatch(fds[0], [&] {
        char c;
        while (read(fds[0], &c, 1) == 1) {}
        eof = read(fds[0], &c, 1) == 0;
        return !eof;
    });
    close(fds[1]);
    EXPECT_TRUE(loop().runUntil([&] { return eof; }, 2.0));
    close(fds[0]);
}

TEST(MainLoopPerform, WorkRunsLaterInOrderEvenFromTheLoopThread) {
    std::vector<int> order;
    loop().performOnMain([&] {
        order.push_back(1);
        loop().performOnMain([&] { order.push_back(3); });
        order.push_back(2);
    });
    loop().performOnMain([&] { order.push_back(4); });
    EXPECT_TRUE(order.empty());
    EXPECT_TRUE(loop().runUntil([&] { return order.size() == 4; }, 2.0));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 4, 3}));
}

TEST(MainLoopRun, QuitBeforeRunIsNotLostAndRunUntilHasADeadline) {
    loop().quit();
    loop().run();  // returns at once instead of hanging
    int fired = 0;
    loop().addTimer(0.01, false, [&] {
        ++fired;
        loop().quit();
    });
    loop().run();
    EXPECT_EQ(fired, 1);
    EXPECT_TRUE(loop().isLoopThread());

    // runUntil gives up at the deadline.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(loop().runUntil([] { return false; }, 0.1));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(100));
    EXPECT_LT(waited, std::chrono::seconds(2));
}
