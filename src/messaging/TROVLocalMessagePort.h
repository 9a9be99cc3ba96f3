#pragma once

#include "messaging/TROVMessagePort.h"
#include "platform/MessagePort.h"

#include <memory>
#include <optional>
#include <string>

class TROVMessage;

// What a local port's delegate implements to receive requests.
class TROVMessageHandler {
public:
    // The reply as flattened message data, or nullopt for no reply.
    virtual std::optional<std::string> HandleMachMessage(const TROVMessage& message) = 0;

protected:
    ~TROVMessageHandler() = default;
};

// The named port on which requests arrive.
class TROVLocalMessagePort : public TROVMessagePort {
public:
    // Always an object; without port and source when the name could not be
    // registered (`failureReason` says why).
    static std::shared_ptr<TROVLocalMessagePort> initWithName(const std::string& name);
    ~TROVLocalMessagePort() override;

    // For the owner to add to the main loop; nullptr when there is no port.
    const std::shared_ptr<platform::MessagePortSource>& runLoopSource() const { return mRunLoopSource; }
    TROVMessageHandler* delegate() const { return _delegate; }
    void setDelegate(TROVMessageHandler* delegate) { _delegate = delegate; }

    std::optional<std::string> HandleMessageCallback(const std::string& data);

    const std::string& failureReason() const { return mFailureReason; }
    bool nameTaken() const { return mNameTaken; }

private:
    TROVLocalMessagePort() = default;

    TROVMessageHandler* _delegate = nullptr;  // not owned
    std::shared_ptr<platform::LocalMessagePort> mMessagePort;
    std::shared_ptr<platform::MessagePortSource> mRunLoopSource;
    std::string mFailureReason;
    bool mNameTaken = false;
};
