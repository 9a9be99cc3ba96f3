#include "messaging/TROVMessage.h"

#include "platform/LocalSocket.h"
#include "platform/Log.h"

#include <cfloat>
#include <cmath>

namespace {

constexpr double kSendTimeout = 0.5;
constexpr double kReceiveTimeout = 0.5;
// Commands and replies are flat dictionaries of a few values.
constexpr platform::PropertyList::Limits kMessageLimits{platform::kLocalSocketMaxMessage, 16, true};

const char* kindName(platform::PropertyList::Type type) {
    switch (type) {
        case platform::PropertyList::Type::Dictionary: return "a dictionary";
        case platform::PropertyList::Type::Array: return "an array";
        case platform::PropertyList::Type::String: return "a string";
        case platform::PropertyList::Type::Boolean: return "a boolean";
        case platform::PropertyList::Type::Integer: return "an integer";
        case platform::PropertyList::Type::Real: return "a real";
        case platform::PropertyList::Type::Data: return "data";
        case platform::PropertyList::Type::Date: return "a date";
        case platform::PropertyList::Type::Other: break;
    }
    return "a value of unknown kind";
}

bool isPropertyListValue(const platform::PropertyList& value) {
    using Type = platform::PropertyList::Type;
    switch (value.type()) {
        case Type::Other: return false;
        case Type::Array:
            for (size_t i = 0; i < value.size(); ++i)
                if (!isPropertyListValue(value.at(i))) return false;
            return true;
        case Type::Dictionary:
            for (const std::string& key : value.keys())
                if (!isPropertyListValue(*value.get(key))) return false;
            return true;
        default: return true;
    }
}

void logUnreadable(const std::string& key, const char* found, const char* wanted) {
    platform::Log::warning("TROVMessage: value of \"%s\" is %s, not %s; ignored", key.c_str(), found, wanted);
}

}  // namespace

std::shared_ptr<TROVMessage> TROVMessage::initWithRemoteMessagePort(std::shared_ptr<TROVRemoteMessagePort> port) {
    return std::shared_ptr<TROVMessage>(new TROVMessage(platform::PropertyList::dictionary(), std::move(port)));
}

std::shared_ptr<TROVMessage> TROVMessage::initWithData(const std::optional<std::string>& data) {
    std::optional<platform::PropertyList> root = unflatten(data);
    const bool isDictionary = root && root->type() == platform::PropertyList::Type::Dictionary;
    return std::shared_ptr<TROVMessage>(
        new TROVMessage(isDictionary ? std::move(*root) : platform::PropertyList::dictionary(), nullptr));
}

std::optional<std::string> TROVMessage::flatten() const {
    if (!isPropertyListValue(mMessageDict)) return std::nullopt;
    return mMessageDict.toXml();
}

std::optional<platform::PropertyList> TROVMessage::unflatten(const std::optional<std::string>& data) {
    if (!data) return std::nullopt;
    platform::Result<platform::PropertyList> root = platform::PropertyList::fromXml(*data, kMessageLimits);
    if (!root) {
        platform::Log::warning("TROVMessage: message refused: %s", root.message().c_str());
        return std::nullopt;
    }
    return std::move(*root);
}

std::shared_ptr<TROVMessage> TROVMessage::sendWithReply(bool wantsReply) const {
    if (!mMessagePort) {
        platform::Log::info("mMessagePort is nil");
        return nullptr;
    }
    const std::optional<std::string> data = flatten();
    std::optional<std::string> reply;
    const int32_t status = wantsReply
        ? mMessagePort->sendRequestWithReply(data, kSendTimeout, kReceiveTimeout, &reply)
        : mMessagePort->sendRequest(data, kSendTimeout, kReceiveTimeout);
    if (status != 0) {
        platform::Log::info("sendRequest(reply:%d) error:%d", wantsReply ? 1 : 0, status);
        return nullptr;
    }
    return wantsReply ? initWithData(reply) : nullptr;
}

void TROVMessage::setValueWithSInt32(const std::string& key, int32_t value) {
    mMessageDict.set(key, platform::PropertyList::integer(value));
}

void TROVMessage::setValueWithFloat32(const std::string& key, float value) {
    mMessageDict.set(key, platform::PropertyList::real(value));
}

void TROVMessage::setValueWithBoolean(const std::string& key, bool value) {
    mMessageDict.set(key, platform::PropertyList::boolean(value));
}

void TROVMessage::setValueWithNSString(const std::string& key, const std::string& value) {
    mMessageDict.set(key, platform::PropertyList::string(value));
}

void TROVMessage::setValueWithCFType(const std::string& key, const platform::PropertyList& value) {
    mMessageDict.set(key, value);
}

// Numbers and booleans convert into each other; other kinds do not.
std::optional<platform::PropertyList> TROVMessage::numberForKey(const std::string& key, const char* kind) const {
    std::optional<platform::PropertyList> stored = mMessageDict.get(key);
    if (!stored) return std::nullopt;
    if (stored->isNumber() || stored->type() == platform::PropertyList::Type::Boolean) return stored;
    logUnreadable(key, kindName(stored->type()), kind);
    return std::nullopt;
}

bool TROVMessage::getValueSInt32(const std::string& key, int32_t& value) const {
    std::optional<platform::PropertyList> stored = numberForKey(key, "a 32-bit integer");
    if (!stored) return false;
    if (stored->type() == platform::PropertyList::Type::Real) {
        const double real = std::trunc(stored->asReal());
        if (!(real >= INT32_MIN && real <= INT32_MAX)) {
            logUnreadable(key, "a real out of range", "a 32-bit integer");
            return false;
        }
        value = static_cast<int32_t>(real);
        return true;
    }
    const int64_t integer = stored->asInteger();
    if (integer < INT32_MIN || integer > INT32_MAX) {
        logUnreadable(key, "an integer out of range", "a 32-bit integer");
        return false;
    }
    value = static_cast<int32_t>(integer);
    return true;
}

bool TROVMessage::getValueFloat32(const std::string& key, float& value) const {
    std::optional<platform::PropertyList> stored = numberForKey(key, "a 32-bit float");
    if (!stored) return false;
    const double real = stored->asReal();
    if (std::isfinite(real) && std::fabs(real) > FLT_MAX) {
        logUnreadable(key, "a real out of range", "a 32-bit float");
        return false;
    }
    value = static_cast<float>(real);
    return true;
}

bool TROVMessage::getValueBoolean(const std::string& key, bool& value) const {
    std::optional<platform::PropertyList> stored = numberForKey(key, "a boolean");
    if (!stored) return false;
    value = stored->asBool();
    return true;
}

bool TROVMessage::getValueNSString(const std::string& key, std::string& value) const {
    std::optional<platform::PropertyList> stored = mMessageDict.get(key);
    if (!stored) return false;
    if (stored->type() != platform::PropertyList::Type::String) {
        logUnreadable(key, kindName(stored->type()), "a string");
        return false;
    }
    value = stored->asString();
    return true;
}
