#include "messaging/TROVLocalMessagePort.h"

#include "messaging/TROVMessage.h"
#include "platform/Log.h"

std::shared_ptr<TROVLocalMessagePort> TROVLocalMessagePort::initWithName(const std::string& name) {
    std::shared_ptr<TROVLocalMessagePort> port(new TROVLocalMessagePort());
    TROVLocalMessagePort* self = port.get();  // the platform port dies with this object
    auto created = platform::LocalMessagePort::create(
        name, [self](const std::string& data) { return self->HandleMessageCallback(data); }, &port->mNameTaken);
    if (!created) {
        port->mFailureReason = created.message();
        platform::Log::error("message port %s not created: %s", name.c_str(), port->mFailureReason.c_str());
        return port;
    }
    port->mMessagePort = std::move(*created);
    port->mRunLoopSource = port->mMessagePort->createRunLoopSource();
    return port;
}

TROVLocalMessagePort::~TROVLocalMessagePort() {
    if (mMessagePort) mMessagePort->invalidate();
}

std::optional<std::string> TROVLocalMessagePort::HandleMessageCallback(const std::string& data) {
    if (!_delegate) return std::nullopt;
    return _delegate->HandleMachMessage(*TROVMessage::initWithData(data));
}
