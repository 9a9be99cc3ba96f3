#include "AgentClient.h"

#include "ReportPrinter.h"
#include "agent/TROVDMessages.h"
#include "platform/LocalSocket.h"
#include "platform/ServiceNames.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

constexpr double kTimeout = 0.5;  // each way, as every sender of the agent's commands uses

}  // namespace

std::string AgentClient::socketPath() {
    auto path = platform::LocalSocket::pathForName(platform::kAgentServiceName);
    return path ? *path : path.message();
}

std::optional<AgentClient> AgentClient::connect(const std::string& command) {
    if (auto port = TROVRemoteMessagePort::initWithName(platform::kAgentServiceName)) return AgentClient(port, command);
    fprintf(stderr,
            "trovarioctl %s: the Trovario agent is not running (nothing answers at %s).\n"
            "Run it as a service with `systemctl --user enable --now trovario-agent`, or start it by hand\n"
            "with `trovario-agent &` (`trovario-agent --foreground` to watch its log).\n",
            command.c_str(), socketPath().c_str());
    return std::nullopt;
}

std::shared_ptr<TROVMessage> AgentClient::request(int32_t code) const {
    auto message = TROVMessage::initWithRemoteMessagePort(mPort);
    message->setValueWithSInt32(kTROVDMessageIDKey, code);
    return message;
}

int AgentClient::send(const TROVMessage& request, std::shared_ptr<TROVMessage>* reply) const {
    *reply = request.sendWithReply(true);
    return *reply ? kExitSuccess : explainFailure();
}

int AgentClient::sendCommand(const TROVMessage& request, std::shared_ptr<TROVMessage>* reply) const {
    const int result = send(request, reply);
    std::string error;
    if (result != kExitSuccess || !(*reply)->getValueNSString(kTROVDErrorKey, error)) return result;
    fprintf(stderr, "trovarioctl %s: %s\n", mCommand.c_str(), error.c_str());
    return kExitAgentFailed;
}

int AgentClient::report(AgentReport* report) const {
    std::shared_ptr<TROVMessage> reply;
    const int result = send(*request(kTROVDMessage_RequestReport), &reply);
    if (result == kExitSuccess) *report = AgentReport::fromReply(reply->messageDictionary());
    return result;
}

int AgentClient::telemetry(Telemetry* telemetry) const {
    std::shared_ptr<TROVMessage> reply;
    const int result = send(*request(kTROVDMessage_RequestTelemetry), &reply);
    if (result == kExitSuccess) *telemetry = Telemetry::fromReply(reply->messageDictionary());
    return result;
}

// An agent that ends while a request is under way shows as a failed
// exchange on a port that still looks valid; a fresh look-up tells.
int AgentClient::explainFailure() const {
    if (!mPort->isValid() || !TROVRemoteMessagePort::initWithName(platform::kAgentServiceName)) {
        fprintf(stderr,
                "trovarioctl %s: the Trovario agent has gone (nothing answers at %s any more).\n"
                "Start it again with `trovario-agent &`.\n",
                mCommand.c_str(), socketPath().c_str());
        return kExitNotRunning;
    }
    fprintf(stderr,
            "trovarioctl %s: the agent did not answer within %.1f s; it may be busy or stuck.\n"
            "Try again; if it stays silent, end the trovario-agent process and start it again.\n",
            mCommand.c_str(), 2 * kTimeout);
    return kExitAgentFailed;
}

int AgentClient::quit() const {
    std::optional<std::string> reply;
    const int32_t status = mPort->sendRequestWithReply(request(kTROVDMessage_Quit)->flatten(), kTimeout, kTimeout, &reply);
    if (status != 0) return explainFailure();
    if (!reply) {  // an agent that quits ends without answering
        if (waitUntilGone(2.0)) return kExitSuccess;
        fprintf(stderr, "trovarioctl quit: the agent accepted 'Quit' but is still there after 2 s; "
                        "end the trovario-agent process if it stays.\n");
        return kExitAgentFailed;
    }
    std::string refusal;
    if (TROVMessage::initWithData(reply)->getValueNSString(kTROVDErrorKey, refusal)) {
        fprintf(stderr, "trovarioctl quit: %s\n", refusal.c_str());
        return kExitAgentFailed;
    }
    Telemetry state;
    telemetry(&state);
    fprintf(stderr, "trovarioctl quit: the agent is %s and quits only when idle; stop the capture or wait for the "
                    "processing to end, then try again.\n", agentStateName(state.mState).c_str());
    return kExitAgentFailed;
}

bool AgentClient::waitUntilGone(double seconds) const {
    const std::string path = socketPath();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    struct stat info {};
    while (lstat(path.c_str(), &info) == 0) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}
