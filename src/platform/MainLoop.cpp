#include "platform/MainLoop.h"

#include <glib-unix.h>
#include <glib.h>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace platform {

struct MainLoop::Source {
    GSource* gsource = nullptr;  // valid while the entry is in mSources
    bool repeats = false;
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

MainLoop::MainLoop() : mLoopThread(std::this_thread::get_id()) {}

void MainLoop::run() {
    mLoopThread = std::this_thread::get_id();
    while (!mQuitRequested.exchange(false)) g_main_context_iteration(nullptr, TRUE);
}

void MainLoop::quit() {
    mQuitRequested = true;
    g_main_context_wakeup(nullptr);
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

MainLoop::SourceId MainLoop::attach(void* gsource, std::shared_ptr<Source> source) {
    auto* g = static_cast<GSource*>(gsource);
    source->gsource = g;
    const bool isTimer = static_cast<bool>(source->timerAction);
    SourceId id;
    {
        std::lock_guard<std::mutex> guard(mLock);
        id = mNextId++;
        if (mNextId == 0) mNextId = 1;
        mSources.emplace(id, std::move(source));
    }
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
    g_source_set_callback(g, isTimer ? onTimer : G_SOURCE_FUNC(onFd), idData(id), onDestroy);
    g_source_attach(g, nullptr);
    g_source_unref(g);  // the context keeps it alive until it is destroyed
    return id;
}

MainLoop::SourceId MainLoop::addTimer(double intervalSeconds, bool repeats, std::function<void()> action) {
    auto source = std::make_shared<Source>();
    source->repeats = repeats;
    source->timerAction = action ? std::move(action) : [] {};
    return attach(g_timeout_source_new(intervalMilliseconds(intervalSeconds)), std::move(source));
}

MainLoop::SourceId MainLoop::addFdWatch(int fd, std::function<bool()> onReadable) {
    auto source = std::make_shared<Source>();
    source->fdAction = onReadable ? std::move(onReadable) : [] { return false; };
    auto condition = static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR);
    return attach(g_unix_fd_source_new(fd, condition), std::move(source));
}

void MainLoop::fireTimer(SourceId id) {
    auto source = find(id);
    if (!source || !source->timerAction) return;
    source->timerAction();
    if (!source->repeats) removeSource(id);
}

void MainLoop::removeSource(SourceId id) {
    GSource* g = nullptr;
    {
        std::lock_guard<std::mutex> guard(mLock);
        auto it = mSources.find(id);
        if (it == mSources.end()) return;
        // The entry goes only when GLib drops the callback, so the source is
        // still alive here; the extra reference keeps it so past the lock.
        g = g_source_ref(it->second->gsource);
    }
    g_source_destroy(g);
    g_source_unref(g);
}

bool MainLoop::isActive(SourceId id) const { return find(id) != nullptr; }

void MainLoop::performOnMain(std::function<void()> work) {
    if (!work) return;
    GSource* idle = g_idle_source_new();
    g_source_set_priority(idle, G_PRIORITY_DEFAULT);
    auto run = +[](gpointer data) -> gboolean {
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_REMOVE;
    };
    auto release = +[](gpointer data) { delete static_cast<std::function<void()>*>(data); };
    g_source_set_callback(idle, run, new std::function<void()>(std::move(work)), release);
    g_source_attach(idle, nullptr);
    g_source_unref(idle);
}

bool MainLoop::isLoopThread() const { return mLoopThread.load() == std::this_thread::get_id(); }

std::shared_ptr<MainLoop::Source> MainLoop::find(SourceId id) const {
    std::lock_guard<std::mutex> guard(mLock);
    auto it = mSources.find(id);
    return it == mSources.end() ? nullptr : it->second;
}

void MainLoop::forget(SourceId id) {
    std::shared_ptr<Source> source;  // released outside the lock: it owns user closures
    std::lock_guard<std::mutex> guard(mLock);
    auto it = mSources.find(id);
    if (it == mSources.end()) return;
    source = std::move(it->second);
    mSources.erase(it);
}

}  // namespace platform
