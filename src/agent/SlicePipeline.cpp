#include "agent/SlicePipeline.h"

#include "agent/AppController.h"
#include "agent/TROVDMessages.h"
#include "platform/Log.h"
#include "segmentation/AudioSegmentTree.h"

using platform::Log;

SlicePipeline::SlicePipeline(AppController& controller) : mController(controller) {}

SlicePipeline::~SlicePipeline() {
    if (mWorker.joinable()) mWorker.join();
}

platform::Status SlicePipeline::processSlices(std::shared_ptr<AudioSegmentTree> tree, double minTrackSeconds) {
    if (mRunning) return platform::Status::failure("the slices of the last capture are still being processed");
    if (!tree) return platform::Status::failure("no capture has been made since the agent started");
    if (mWorker.joinable()) mWorker.join();
    mRunning = true;
    mController.setState(kAgentStateProcessing);
    mController.updateMenuStatus();
    // The main loop leaves the tree alone until the worker is done.
    mWorker = std::thread([this, tree = std::move(tree), minTrackSeconds] {
        Log::info("numberOfSlices0 %d", tree->numberOfSlices());
        tree->createAudioSegmentsBetweenSilences();
        tree->splitSilencesToTracks();
        Log::info("numberOfSlices1 %d", tree->numberOfSlices());
        tree->setMinimumTrackDuration(minTrackSeconds);
        tree->performAutoDefine();
        Log::info("numberOfSlices2 %d", tree->numberOfSlices());
        mController.postToMain([this] {
            mRunning = false;
            mController.processSlicesDone();
        });
    });
    return platform::Status::success();
}
