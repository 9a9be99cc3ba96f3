#include "platform/NotificationCenter.h"

#include <vector>

namespace platform {

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

int NotificationCenter::addObserver(const std::string& name, const void* sender, Observer observer) {
    std::lock_guard guard(mLock);
    int token = mNextToken++;
    mEntries.emplace(token, Entry{name, sender, std::move(observer)});
    return token;
}

void NotificationCenter::removeObserver(int token) {
    std::lock_guard guard(mLock);
    mEntries.erase(token);
}

void NotificationCenter::post(const std::string& name, const void* sender) {
    // Observers run unlocked so that they may add or remove observers themselves.
    std::vector<Observer> matching;
    {
        std::lock_guard guard(mLock);
        for (auto& [token, entry] : mEntries)
            if (entry.name == name && (entry.sender == nullptr || entry.sender == sender))
                matching.push_back(entry.observer);
    }
    for (auto& observer : matching) observer(name, sender);
}

}  // namespace platform
