#include "platform/MainLoop.h"

#include <glib-unix.h>
#include <glib.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>

namespace platform {

struct MainLoop::Source {
    GSource* gsource = nullptr;  // set once attached; valid while the entry is in mSources
    guint intervalMs = 0;
    bool repeats = false;
    int fd = -1;
    std::function<void()> timerAction;
    std::function<bool()> fdAction;
};

namespace {

gpointer idData(MainLoop::SourceId id) { return GUINT_TO_POINTER(id); }
MainLoop::SourceId dataId(gpointer data) { return GPOINTER_TO_UINT(data); }

guint intervalMilliseconds(double seconds) {
    if (!(seconds > 0.001)) return 1;  // also NaN
    return static_cast<guint>(std::min(seconds * 1000.0, double(G_MAXUINT)));
}

}  // namespace

MainLoop& MainLoop::shared() {
    // Never destroyed: GLib sources may still reach it while the process exits.
    static MainLoop* loop = new MainLoop();
    return *loop;
}

MainLoop::MainLoop() : mWakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), mLoopThread(std::this_thread::get_id()) {
    auto wake = +[](gint fd, GIOCondition, gpointer) -> gboolean {
        uint64_t count;
        while (read(fd, &count, sizeof count) < 0 && errno == EINTR) {
        }
        shared().runPosted();
        return G_SOURCE_CONTINUE;
    };
    g_unix_fd_add(mWakeFd, G_IO_IN, wake, nullptr);
}

void MainLoop::post(std::function<void()> work) {
    {
        std::lock_guard<std::mutex> guard(mLock);
        mPosted.push_back(std::move(work));
    }
    const uint64_t one = 1;
    while (write(mWakeFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void MainLoop::runPosted() {
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard<std::mutex> guard(mLock);
        batch.swap(mPosted);
    }
    // Work posted by this batch waits for the next wake-up, so it runs later.
    for (auto& work : batch) work();
}

void MainLoop::run() {
    mLoopThread = std::this_thread::get_id();
    while (!mQuitRequested.exchange(false)) g_main_context_iteration(nullptr, TRUE);
}

void MainLoop::quit() {
    mQuitRequested = true;
    post([] {});
}

bool MainLoop::runUntil(const std::function<bool()>& condition, double timeoutSeconds) {
    using Clock = std::chrono::steady_clock;
    mLoopThread = std::this_thread::get_id();
    const auto deadline = Clock::now() + std::chrono::duration<double>(std::max(timeoutSeconds, 0.0));
    // The wake-up bounds each blocking iteration, so the deadline is kept
    // even when nothing else happens.
    const SourceId wake = addTimer(0.05, true, [] {});
    while (!condition() && Clock::now() < deadline) g_main_context_iteration(nullptr, TRUE);
    removeSource(wake);
    return condition();
}

MainLoop::SourceId MainLoop::add(std::shared_ptr<Source> source) {
    SourceId id;
    {
        std::lock_guard<std::mutex> guard(mLock);
        id = mNextId++;
        if (mNextId == 0) mNextId = 1;
        mSources.emplace(id, std::move(source));
    }
    if (isLoopThread())
        attach(id);
    else
        post([this, id] { attach(id); });
    return id;
}

void MainLoop::attach(SourceId id) {
    auto source = find(id);
    if (!source) return;  // removed before it was attached
    auto onTimer = +[](gpointer data) -> gboolean {
        auto source = shared().find(dataId(data));
        if (!source) return G_SOURCE_REMOVE;
        source->timerAction();
        return source->repeats ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
    };
    auto onFd = +[](gint, GIOCondition, gpointer data) -> gboolean {
        auto source = shared().find(dataId(data));
        return source && source->fdAction() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
    };
    auto onDestroy = +[](gpointer data) { shared().forget(dataId(data)); };
    GSource* g = source->timerAction
                     ? g_timeout_source_new(source->intervalMs)
                     : g_unix_fd_source_new(source->fd, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR));
    g_source_set_callback(g, source->timerAction ? onTimer : G_SOURCE_FUNC(onFd), idData(id), onDestroy);
    {
        std::lock_guard<std::mutex> guard(mLock);
        source->gsource = g;
    }
    g_source_attach(g, nullptr);
    g_source_unref(g);  // the context keeps it until it is destroyed
}

MainLoop::SourceId MainLoop::addTimer(double intervalSeconds, bool repeats, std::function<void()> action) {
    auto source = std::make_shared<Source>();
    source->intervalMs = intervalMilliseconds(intervalSeconds);
    source->repeats = repeats;
    source->timerAction = action ? std::move(action) : [] {};
    return add(std::move(source));
}

MainLoop::SourceId MainLoop::addFdWatch(int fd, std::function<bool()> onReadable) {
    auto source = std::make_shared<Source>();
    source->fd = fd;
    source->fdAction = onReadable ? std::move(onReadable) : [] { return false; };
    return add(std::move(source));
}

void MainLoop::fireTimer(SourceId id) {
    auto source = find(id);
    if (!source || !source->timerAction) return;
    source->timerAction();
    if (!source->repeats) removeSource(id);
}

void MainLoop::removeSource(SourceId id) {
    // The entry goes at once, so the source never fires after this returns
    // (short of a call already running on the loop's thread); only the GLib
    // source itself must be destroyed on the loop's thread.
    std::shared_ptr<Source> dropped;  // released after the lock: it owns user closures
    GSource* g = nullptr;
    {
        std::lock_guard<std::mutex> guard(mLock);
        auto it = mSources.find(id);
        if (it == mSources.end()) return;
        dropped = std::move(it->second);
        mSources.erase(it);
        // Until GLib's destroy notice takes this lock, the source is alive;
        // the extra reference keeps it so until it is destroyed.
        if (dropped->gsource) g = g_source_ref(dropped->gsource);
    }
    if (!g) return;  // its attach, still queued, will find nothing
    auto destroy = [g] {
        g_source_destroy(g);
        g_source_unref(g);
    };
    if (isLoopThread())
        destroy();
    else
        post(destroy);
}

std::shared_ptr<MainLoop::Source> MainLoop::find(SourceId id) const {
    std::lock_guard<std::mutex> guard(mLock);
    auto it = mSources.find(id);
    return it == mSources.end() ? nullptr : it->second;
}

void MainLoop::forget(SourceId id) {
    std::shared_ptr<Source> source;  // released after the lock: it owns user closures
    std::lock_guard<std::mutex> guard(mLock);
    auto it = mSources.find(id);
    if (it == mSources.end()) return;
    source = std::move(it->second);
    mSources.erase(it);
}

bool MainLoop::isActive(SourceId id) const { return find(id) != nullptr; }

void MainLoop::performOnMain(std::function<void()> work) {
    if (work) post(std::move(work));
}

bool MainLoop::isLoopThread() const { return mLoopThread.load() == std::this_thread::get_id(); }

}  // namespace platform
