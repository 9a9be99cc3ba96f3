#pragma once

#include "messaging/TROVMessagePort.h"
#include "platform/MessagePort.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// A peer's named port, looked up by name, through which requests are sent.
class TROVRemoteMessagePort : public TROVMessagePort {
public:
    // nullptr when no port of that name is there.
    static std::shared_ptr<TROVRemoteMessagePort> initWithName(const std::string& name);

    // Sends and waits up to the receive time-out for the reply, then drops it.
    int32_t sendRequest(const std::optional<std::string>& data, double sendTimeout, double receiveTimeout);
    // Sends and hands back the reply data (nullopt when the peer sent none).
    int32_t sendRequestWithReply(const std::optional<std::string>& data, double sendTimeout, double receiveTimeout,
                                 std::optional<std::string>* reply);

    // False once the named port was found gone.
    bool isValid() const { return mMessagePort->isValid(); }

private:
    explicit TROVRemoteMessagePort(std::unique_ptr<platform::RemoteMessagePort> port)
        : mMessagePort(std::move(port)) {}

    int32_t send(const std::optional<std::string>& data, double sendTimeout, double receiveTimeout,
                 std::optional<std::string>* reply);

    std::unique_ptr<platform::RemoteMessagePort> mMessagePort;
};
