#include "messaging/TROVRemoteMessagePort.h"

std::shared_ptr<TROVRemoteMessagePort> TROVRemoteMessagePort::initWithName(const std::string& name) {
    auto port = platform::RemoteMessagePort::create(name);
    if (!port) return nullptr;
    return std::shared_ptr<TROVRemoteMessagePort>(new TROVRemoteMessagePort(std::move(*port)));
}

int32_t TROVRemoteMessagePort::sendRequest(const std::optional<std::string>& data, double sendTimeout,
                                           double receiveTimeout) {
    return send(data, sendTimeout, receiveTimeout, nullptr);
}

int32_t TROVRemoteMessagePort::sendRequestWithReply(const std::optional<std::string>& data, double sendTimeout,
                                                    double receiveTimeout, std::optional<std::string>* reply) {
    return send(data, sendTimeout, receiveTimeout, reply);
}

int32_t TROVRemoteMessagePort::send(const std::optional<std::string>& data, double sendTimeout,
                                    double receiveTimeout, std::optional<std::string>* reply) {
    // -1 rather than the transport's own invalid-port status, as callers expect.
    if (!mMessagePort->isValid()) return -1;
    return mMessagePort->sendRequest(data, sendTimeout, receiveTimeout, reply);
}
