#include "platform/MainLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <unistd.h>
#include <vector>

using platform::MainLoop;

TEST(MainLoopConcurrency, WorkPostedFromOtherThreadsRunsOnTheLoopThreadInOrder) {
    MainLoop& loop = MainLoop::shared();
    const auto loopThread = std::this_thread::get_id();
    constexpr int kThreads = 4, kPerThread = 200;
    std::vector<std::vector<int>> seen(kThreads);  // touched on the loop thread only
    std::atomic<int> offThread{0};
    int done = 0;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t)
        posters.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i)
                loop.performOnMain([&, t, i] {
                    if (std::this_thread::get_id() != loopThread) ++offThread;
                    seen[t].push_back(i);
                    ++done;
                });
        });
    EXPECT_TRUE(loop.runUntil([&] { return done == kThreads * kPerThread; }, 10.0));
    for (auto& poster : posters) poster.join();
    EXPECT_EQ(offThread, 0);
    for (const auto& values : seen) {
        ASSERT_EQ(values.size(), size_t(kPerThread));
        for (int i = 0; i < kPerThread; ++i) EXPECT_EQ(values[i], i);
    }
}

TEST(MainLoopConcurrency, QuitFromAnotherThreadEndsRun) {
    MainLoop& loop = MainLoop::shared();
    std::atomic<bool> ticking{false};
    const auto tick = loop.addTimer(0.01, true, [&] { ticking = true; });
    std::thread stopper([&] {
        while (!ticking) std::this_thread::yield();
        loop.quit();
    });
    loop.run();
    stopper.join();
    loop.removeSource(tick);
    SUCCEED();
}

TEST(MainLoopConcurrency, TimersAddedAndRemovedFromAWorkerFireOnTheLoop) {
    MainLoop& loop = MainLoop::shared();
    const auto loopThread = std::this_thread::get_id();
    std::atomic<int> fired{0}, offThread{0}, removedFired{0};
    // The worker is done before the loop runs, so none of the removed timers
    // was ever attached: none may fire.
    std::thread worker([&] {
        loop.addTimer(0.001, false, [&] {
            if (std::this_thread::get_id() != loopThread) ++offThread;
            ++fired;
        });
        for (int i = 0; i < 100; ++i) loop.removeSource(loop.addTimer(0.001, true, [&] { ++removedFired; }));
    });
    worker.join();
    EXPECT_TRUE(loop.runUntil([&] { return fired == 1; }, 5.0));
    loop.runUntil([] { return false; }, 0.05);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(offThread, 0);
    EXPECT_EQ(removedFired, 0);
}

TEST(MainLoopConcurrency, ARunningTimerRemovedFromAWorkerIsGoneWhenTheCallReturns) {
    MainLoop& loop = MainLoop::shared();
    std::atomic<int> fired{0};
    std::atomic<bool> removed{false}, goneAtReturn{false};
    const MainLoop::SourceId id = loop.addTimer(0.001, true, [&] { ++fired; });
    std::thread worker([&] {
        while (fired < 2) std::this_thread::yield();
        loop.removeSource(id);
        goneAtReturn = !loop.isActive(id);
        removed = true;
    });
    EXPECT_TRUE(loop.runUntil([&] { return removed.load(); }, 5.0));
    worker.join();
    EXPECT_TRUE(goneAtReturn);
    const int firedAtRemoval = fired;
    loop.runUntil([] { return false; }, 0.05);
    EXPECT_EQ(fired, firedAtRemoval);
}

TEST(MainLoopConcurrency, FdWatchAddedByAWorkerIsServedOnTheLoop) {
    MainLoop& loop = MainLoop::shared();
    const auto loopThread = std::this_thread::get_id();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::atomic<bool> servedOnLoop{false}, served{false};
    std::thread worker([&] {
        loop.addFdWatch(fds[0], [&] {
            char c;
            EXPECT_EQ(read(fds[0], &c, 1), 1);
            servedOnLoop = std::this_thread::get_id() == loopThread;
            served = true;
            return false;
        });
        EXPECT_EQ(write(fds[1], "x", 1), 1);
    });
    EXPECT_TRUE(loop.runUntil([&] { return served.load(); }, 5.0));
    worker.join();
    EXPECT_TRUE(servedOnLoop);
    close(fds[0]);
    close(fds[1]);
}
