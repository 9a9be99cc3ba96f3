#pragma once

#include "messaging/TROVRemoteMessagePort.h"
#include "platform/PropertyList.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// A command or reply: string keys to typed values, carried as an XML
// property list whose root is a dict.
class TROVMessage {
public:
    // An empty message that `sendWithReply` sends through `port`.
    static std::shared_ptr<TROVMessage> initWithRemoteMessagePort(std::shared_ptr<TROVRemoteMessagePort> port);
    // The dictionary read from `data`; empty when there is no data, it is
    // not a property list or its root is not a dict. Such a message has no port.
    static std::shared_ptr<TROVMessage> initWithData(const std::optional<std::string>& data);

    // The message as an XML property list; nullopt when it holds a value
    // that is not a property-list value.
    std::optional<std::string> flatten() const;
    // The dictionary in `data`; nullopt, with one log line saying why, when
    // it is not a property-list dictionary within the limits of a message
    // (its size, nesting and no NUL bytes).
    static std::optional<platform::PropertyList> unflatten(const std::optional<std::string>& data);

    const std::shared_ptr<TROVRemoteMessagePort>& messagePort() const { return mMessagePort; }
    const platform::PropertyList& messageDictionary() const { return mMessageDict; }

    // Sends with 0.5 s send and receive time-outs. With `wantsReply`, the
    // reply (a message without port); otherwise, and on failure, nullptr.
    std::shared_ptr<TROVMessage> sendWithReply(bool wantsReply) const;

    void setValueWithSInt32(const std::string& key, int32_t value);
    void setValueWithFloat32(const std::string& key, float value);
    void setValueWithBoolean(const std::string& key, bool value);
    void setValueWithNSString(const std::string& key, const std::string& value);
    void setValueWithCFType(const std::string& key, const platform::PropertyList& value);

    // False, leaving `value` untouched, when the key is absent or its value
    // cannot be read as the asked kind (then with one log line).
    bool getValueSInt32(const std::string& key, int32_t& value) const;
    bool getValueFloat32(const std::string& key, float& value) const;
    bool getValueBoolean(const std::string& key, bool& value) const;
    bool getValueNSString(const std::string& key, std::string& value) const;

private:
    TROVMessage(platform::PropertyList dictionary, std::shared_ptr<TROVRemoteMessagePort> port)
        : mMessageDict(std::move(dictionary)), mMessagePort(std::move(port)) {}

    std::optional<platform::PropertyList> numberForKey(const std::string& key, const char* kind) const;

    platform::PropertyList mMessageDict;
    std::shared_ptr<TROVRemoteMessagePort> mMessagePort;
};
