#pragma once

#include "platform/Result.h"

#include <memory>
#include <thread>

class AppController;
class AudioSegmentTree;

// The second way through a capture: its segment tree's silences become
// slices, and the tree's own track definition runs over them, on a worker
// thread. No command starts it; the slice delivery operations (matchSlice,
// exportSlice, the slice hand-off) stand ready beside it.
class SlicePipeline {
public:
    explicit SlicePipeline(AppController& controller);
    ~SlicePipeline();
    SlicePipeline(const SlicePipeline&) = delete;
    SlicePipeline& operator=(const SlicePipeline&) = delete;

    // Main loop only. Refused while a run is under way or without a tree.
    platform::Status processSlices(std::shared_ptr<AudioSegmentTree> tree, double minTrackSeconds);

private:
    AppController& mController;
    std::thread mWorker;
    bool mRunning = false;  // main loop
};
