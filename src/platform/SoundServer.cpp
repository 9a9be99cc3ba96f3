#include "platform/SoundServer.h"

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

namespace platform {
namespace {

void signalMainloop(pa_threaded_mainloop* mainloop) { pa_threaded_mainloop_signal(mainloop, 0); }

void onContextState(pa_context*, void* userdata) {
    signalMainloop(static_cast<pa_threaded_mainloop*>(userdata));
}

struct TimeoutState {
    pa_threaded_mainloop* mainloop;
    bool expired = false;
};

void onTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    auto* state = static_cast<TimeoutState*>(userdata);
    state->expired = true;
    signalMainloop(state->mainloop);
}

// The request's result and the flag that ends its wait, shared with the callback.
template <typename T>
struct Request {
    SoundServer* server;
    T result{};
    bool finished = false;
    bool ok = false;
};

void finish(SoundServer* server, bool& finished) {
    finished = true;
    signalMainloop(server->mainloop());
}

SinkInfo sinkFrom(const pa_sink_info* info) {
    SinkInfo sink;
    sink.index = info->index;
    sink.name = info->name ? info->name : "";
    sink.description = info->description ? info->description : "";
    sink.monitorSource = info->monitor_source_name ? info->monitor_source_name : "";
    return sink;
}

void onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto* request = static_cast<Request<std::vector<SinkInfo>>*>(userdata);
    if (eol < 0) return finish(request->server, request->finished);
    if (eol > 0) {
        request->ok = true;
        return finish(request->server, request->finished);
    }
    request->result.push_back(sinkFrom(info));
}

void onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
    auto* request = static_cast<Request<std::pair<std::string, std::string>>*>(userdata);
    if (info) {
        request->result.first = info->server_name ? info->server_name : "";
        request->result.second = info->default_sink_name ? info->default_sink_name : "";
        request->ok = true;
    }
    finish(request->server, request->finished);
}

void onSuccess(pa_context*, int success, void* userdata) {
    auto* request = static_cast<Request<int>*>(userdata);
    request->ok = success != 0;
    finish(request->server, request->finished);
}

void onModuleIndex(pa_context*, uint32_t index, void* userdata) {
    auto* request = static_cast<Request<uint32_t>*>(userdata);
    request->ok = index != PA_INVALID_INDEX;
    request->result = index;
    finish(request->server, request->finished);
}

}  // namespace

SoundServerLock::SoundServerLock(pa_threaded_mainloop* mainloop) : mMainloop(mainloop) {
    pa_threaded_mainloop_lock(mMainloop);
}

SoundServerLock::~SoundServerLock() { pa_threaded_mainloop_unlock(mMainloop); }

Result<std::shared_ptr<SoundServer>> SoundServer::connect(const std::string& clientName, int timeoutMs) {
    pa_threaded_mainloop* mainloop = pa_threaded_mainloop_new();
    pa_context* context =
        mainloop ? pa_context_new(pa_threaded_mainloop_get_api(mainloop), clientName.c_str()) : nullptr;
    if (!context) {
        if (mainloop) pa_threaded_mainloop_free(mainloop);
        return Status::failure("could not create a sound-server client");
    }
    pa_context_set_state_callback(context, onContextState, mainloop);
    std::shared_ptr<SoundServer> server(new SoundServer(mainloop, context, timeoutMs));
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(mainloop) < 0)
        return server->contextFailure();
    SoundServerLock lock(mainloop);
    Status ready = server->waitLocked([context] { return pa_context_get_state(context) == PA_CONTEXT_READY; });
    if (!ready) return ready;
    return server;
}

SoundServer::SoundServer(pa_threaded_mainloop* mainloop, pa_context* context, int timeoutMs)
    : mMainloop(mainloop), mContext(context), mTimeoutMs(timeoutMs) {}

SoundServer::~SoundServer() {
    {
        SoundServerLock lock(mMainloop);
        pa_context_set_state_callback(mContext, nullptr, nullptr);
        pa_context_disconnect(mContext);
    }
    pa_threaded_mainloop_stop(mMainloop);
    pa_context_unref(mContext);
    pa_threaded_mainloop_free(mMainloop);
}

Status SoundServer::contextFailure() const { return Status::failure(pa_strerror(pa_context_errno(mContext))); }

Status SoundServer::waitLocked(const std::function<bool()>& done) {
    TimeoutState timeout{mMainloop};
    pa_time_event* event = pa_context_rttime_new(
        mContext, pa_rtclock_now() + static_cast<pa_usec_t>(mTimeoutMs) * 1000, onTimeout, &timeout);
    bool result = false;
    for (;;) {
        if ((result = done())) break;
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(mContext)) || timeout.expired) break;
        pa_threaded_mainloop_wait(mMainloop);
    }
    if (event) pa_threaded_mainloop_get_api(mMainloop)->time_free(event);
    if (result) return Status::success();
    if (timeout.expired) return Status::failure("no answer within " + std::to_string(mTimeoutMs) + " ms");
    return contextFailure();
}

Status SoundServer::runOperation(pa_operation* op, const bool& finished) {
    if (!op) return contextFailure();
    Status answered = waitLocked([&] { return finished || pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
    // A request left unanswered is cancelled, so its callback never sees the
    // caller's vanished stack.
    if (!finished) pa_operation_cancel(op);
    pa_operation_unref(op);
    if (finished) return Status::success();
    return answered ? contextFailure() : answered;
}

Result<std::string> SoundServer::serverName() {
    SoundServerLock lock(mMainloop);
    Request<std::pair<std::string, std::string>> request{this};
    Status answered = runOperation(pa_context_get_server_info(mContext, onServerInfo, &request), request.finished);
    if (!answered) return answered;
    if (!request.ok) return contextFailure();
    return request.result.first;
}

Result<std::vector<SinkInfo>> SoundServer::sinks() {
    SoundServerLock lock(mMainloop);
    Request<std::vector<SinkInfo>> request{this};
    Status answered =
        runOperation(pa_context_get_sink_info_list(mContext, onSinkInfo, &request), request.finished);
    if (!answered) return answered;
    if (!request.ok) return contextFailure();
    return std::move(request.result);
}

Result<SinkInfo> SoundServer::findSink(const std::string& descriptionOrName) {
    auto all = sinks();
    if (!all) return all.status();
    for (const SinkInfo& sink : *all)
        if (sink.description == descriptionOrName) return sink;
    for (const SinkInfo& sink : *all)
        if (sink.name == descriptionOrName) return sink;
    return Status::failure("no sink named \"" + descriptionOrName + "\"");
}

Result<std::string> SoundServer::defaultSinkName() {
    SoundServerLock lock(mMainloop);
    Request<std::pair<std::string, std::string>> request{this};
    Status answered = runOperation(pa_context_get_server_info(mContext, onServerInfo, &request), request.finished);
    if (!answered) return answered;
    if (!request.ok) return contextFailure();
    if (request.result.second.empty()) return Status::failure("the sound server has no default sink");
    return request.result.second;
}

Status SoundServer::setDefaultSink(const std::string& name) {
    SoundServerLock lock(mMainloop);
    Request<int> request{this};
    Status answered =
        runOperation(pa_context_set_default_sink(mContext, name.c_str(), onSuccess, &request), request.finished);
    if (!answered) return answered;
    return request.ok ? Status::success() : contextFailure();
}

Result<bool> SoundServer::sinkHasInputs(uint32_t sinkIndex) {
    SoundServerLock lock(mMainloop);
    struct Inputs {
        Request<bool> request;
        uint32_t sink;
    } inputs{{this}, sinkIndex};
    auto onInput = [](pa_context*, const pa_sink_input_info* info, int eol, void* userdata) {
        auto* found = static_cast<Inputs*>(userdata);
        if (eol != 0) {
            found->request.ok = eol > 0;
            return finish(found->request.server, found->request.finished);
        }
        if (info->sink == found->sink) found->request.result = true;
    };
    Status answered =
        runOperation(pa_context_get_sink_input_info_list(mContext, onInput, &inputs), inputs.request.finished);
    if (!answered) return answered;
    if (!inputs.request.ok) return contextFailure();
    return inputs.request.result;
}

Status SoundServer::suspendSink(const std::string& name, bool suspend) {
    SoundServerLock lock(mMainloop);
    Request<int> request{this};
    Status answered = runOperation(
        pa_context_suspend_sink_by_name(mContext, name.c_str(), suspend, onSuccess, &request), request.finished);
    if (!answered) return answered;
    return request.ok ? Status::success() : contextFailure();
}

Result<uint32_t> SoundServer::loadModule(const std::string& name, const std::string& arguments) {
    SoundServerLock lock(mMainloop);
    Request<uint32_t> request{this};
    Status answered = runOperation(
        pa_context_load_module(mContext, name.c_str(), arguments.c_str(), onModuleIndex, &request),
        request.finished);
    if (!answered) return answered;
    if (!request.ok) return contextFailure();
    return request.result;
}

}  // namespace platform
