#include "platform/MainLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <numeric>
#include <thread>
#include <unistd.h>
#include <vector>

using platform::MainLoop;

namespace {

MainLoop& loop() { return MainLoop::shared(); }

// Lets the loop run for a while, whatever happens in it.
void spin(double seconds) { loop().runUntil([] { return false; }, seconds); }

}  // namespace

// Work posted from several threads runs on the loop thread, each thread's in
// order; a quit from another thread ends run.
TEST(MainLoopConcurrency, WorkPostedFromOtherThreadsRunsOnTheLoopThreadInOrder) {
    const auto loopThread = std::this_thread::get_id();
    constexpr int kThreads = 4, kPerThread = 200;
    std::vector<std::vector<int>> seen(kThreads);  // touched on the loop thread only; -1 for work run elsewhere
    int done = 0;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t)
        posters.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i)
                loop().performOnMain([&, t, i] {
                    seen[t].push_back(std::this_thread::get_id() == loopThread ? i : -1);
                    ++done;
                });
        });
    EXPECT_TRUE(loop().runUntil([&] { return done == kThreads * kPerThread; }, 10.0));
    for (auto& poster : posters) poster.join();
    std::vector<int> expected(kPerThread);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(seen, std::vector(kThreads, expected));

    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        loop().quit();
    });
    loop().run();
    stopper.join();
}

// Removed before the loop ran, none of the worker's repeating timers was ever
// attached: none may fire. Its one-shot timer and fd watch run on the loop thread.
TEST(MainLoopConcurrency, SourcesAddedAndRemovedFromAWorkerRunOnTheLoop) {
    const auto loopThread = std::this_thread::get_id();
    std::atomic<int> onLoop{0}, elsewhere{0}, removedFired{0};
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::thread worker([&] {
        auto fire = [&] { ++(std::this_thread::get_id() == loopThread ? onLoop : elsewhere); };
        loop().addTimer(0.001, false, fire);
        for (int i = 0; i < 100; ++i) loop().removeSource(loop().addTimer(0.001, true, [&] { ++removedFired; }));
        loop().addFdWatch(fds[0], [&, fire] {
            char c;
            fire();
            return read(fds[0], &c, 1) != 1;
        });
        EXPECT_EQ(write(fds[1], "x", 1), 1);
    });
    worker.join();
    EXPECT_TRUE(loop().runUntil([&] { return onLoop + elsewhere == 2; }, 5.0));
    spin(0.05);
    EXPECT_EQ((std::vector<int>{onLoop, elsewhere, removedFired}), (std::vector<int>{2, 0, 0}));
    close(fds[0]);
    close(fds[1]);
}

TEST(MainLoopConcurrency, ARunningTimerRemovedFromAWorkerIsGoneWhenTheCallReturns) {
    std::atomic<int> fired{0};
    std::atomic<bool> removed{false}, goneAtReturn{false};
    const MainLoop::SourceId id = loop().addTimer(0.001, true, [&] { ++fired; });
    std::thread worker([&] {
        while (fired < 2) std::this_thread::yield();
        loop().removeSource(id);
        goneAtReturn = !loop().isActive(id);
        removed = true;
    });
    EXPECT_TRUE(loop().runUntil([&] { return removed.load(); }, 5.0));
    worker.join();
    EXPECT_TRUE(goneAtReturn);
    const int firedAtRemoval = fired;
    spin(0.05);
    EXPECT_EQ(fired, firedAtRemoval);
}

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
