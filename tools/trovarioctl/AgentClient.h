#pragma once

#include "messaging/TROVMessage.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// Exit codes of trovarioctl.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitAgentFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNotRunning = 3;

// trovarioctl's side of the agent's message port.
class AgentClient {
public:
    // nullopt, after telling the user how to start the agent, when it does not
    // run. `command` names the command in the failures reported.
    static std::optional<AgentClient> connect(const std::string& command);

    // A request carrying `code` under "msgID".
    std::shared_ptr<TROVMessage> request(int32_t code) const;
    // Sends and waits for the reply. kExitSuccess with `reply` set, or the
    // exit code of the failure after saying what failed.
    int send(const TROVMessage& request, std::shared_ptr<TROVMessage>* reply) const;
    // Asks the agent to quit: kExitSuccess once it has gone, kExitAgentFailed
    // (with the reason) when it stays.
    int quit() const;

    static std::string socketPath();

private:
    AgentClient(std::shared_ptr<TROVRemoteMessagePort> port, std::string command)
        : mPort(std::move(port)), mCommand(std::move(command)) {}
    int explainFailure() const;
    bool waitUntilGone(double seconds) const;

    std::shared_ptr<TROVRemoteMessagePort> mPort;
    std::string mCommand;
};

// "idle", "capturing", "processing" or "unknown (N)".
std::string agentStateName(int32_t state);
