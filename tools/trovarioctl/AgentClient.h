#pragma once

#include "AgentReport.h"
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
    // The same, and kExitAgentFailed, after saying why, when the agent
    // answers that it refused the command or could not carry it out.
    int sendCommand(const TROVMessage& request, std::shared_ptr<TROVMessage>* reply) const;
    // The agent's report and telemetry; the exit code of a failure after
    // saying what failed.
    int report(AgentReport* report) const;
    int telemetry(Telemetry* telemetry) const;
    // Asks the agent to quit: kExitSuccess once it has gone, kExitAgentFailed
    // (with the reason) when it stays.
    int quit() const;

    const std::string& command() const { return mCommand; }
    static std::string socketPath();

private:
    AgentClient(std::shared_ptr<TROVRemoteMessagePort> port, std::string command)
        : mPort(std::move(port)), mCommand(std::move(command)) {}
    int explainFailure() const;
    bool waitUntilGone(double seconds) const;

    std::shared_ptr<TROVRemoteMessagePort> mPort;
    std::string mCommand;
};
