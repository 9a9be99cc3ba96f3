#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace platform {

// Synchronous observer registry: `post` calls every matching observer on the
// posting thread before it returns. An observer registered for a null object
// hears the name from every sender.
class NotificationCenter {
public:
    using Observer = std::function<void(const std::string& name, const void* sender)>;

    static NotificationCenter& defaultCenter();

    int addObserver(const std::string& name, const void* sender, Observer observer);
    void removeObserver(int token);
    void post(const std::string& name, const void* sender);

private:
    struct Entry {
        std::string name;
        const void* sender;
        Observer observer;
    };
    std::mutex mLock;
    std::map<int, Entry> mEntries;
    int mNextToken = 1;
};

}  // namespace platform
