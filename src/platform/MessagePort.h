#pragma once

#include "platform/LocalSocket.h"
#include "platform/MainLoop.h"
#include "platform/Result.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace platform {

class MessagePortSource;

// A named port that receives requests, one per connection, and answers each
// with at most one reply. Requests are delivered one at a time on the main
// loop once the port's source has been added to it.
class LocalMessagePort : public std::enable_shared_from_this<LocalMessagePort> {
public:
    // Returns the reply, or nullopt for none (the connection is then closed
    // without one).
    using Callback = std::function<std::optional<std::string>(const std::string& request)>;

    // How long a client may take to deliver its request once connected, and
    // to make room for its reply.
    static constexpr double kClientTimeout = 0.5;
    // Clients connected but not yet heard from. Beyond this many, the one
    // that has waited longest is dropped for the newcomer: idle peers cannot
    // crowd out those that are about to speak, and memory stays bounded.
    static constexpr size_t kMaxWaitingClients = 256;

    // Fails when the port cannot be created; `nameTaken` (if given) tells
    // whether a live port holds the name.
    static Result<std::shared_ptr<LocalMessagePort>> create(const std::string& name, Callback callback,
                                                            bool* nameTaken = nullptr);
    ~LocalMessagePort();
    LocalMessagePort(const LocalMessagePort&) = delete;
    LocalMessagePort& operator=(const LocalMessagePort&) = delete;

    std::shared_ptr<MessagePortSource> createRunLoopSource();
    // Stops receiving and gives the name up. Idempotent.
    void invalidate();
    bool isValid() const { return mListener != nullptr; }
    const std::string& path() const { return mPath; }

private:
    friend class MessagePortSource;
    struct WaitingClient {
        std::unique_ptr<LocalSocket> socket;
        MainLoop::SourceId watch = 0;
        MainLoop::SourceId timer = 0;
        uint64_t arrival = 0;
    };

    LocalMessagePort(std::unique_ptr<LocalSocketListener> listener, Callback callback);
    void acceptClients();
    void serve(std::unique_ptr<LocalSocket> client);
    void wait(std::unique_ptr<LocalSocket> client);
    std::unique_ptr<LocalSocket> stopWaiting(int fd);
    void clientReadable(int fd);
    void clientTimedOut(int fd);
    void dropLongestWaiting();
    void answer(LocalSocket& client, const std::string& request);

    std::unique_ptr<LocalSocketListener> mListener;
    std::string mPath;
    Callback mCallback;
    std::weak_ptr<MessagePortSource> mSource;
    std::map<int, WaitingClient> mWaiting;
    uint64_t mArrivals = 0;
};

// Delivers a local port's requests on the main loop while it is added there.
class MessagePortSource {
public:
    void addToMainLoop();
    void removeFromMainLoop();
    ~MessagePortSource() { removeFromMainLoop(); }

    explicit MessagePortSource(std::weak_ptr<LocalMessagePort> port) : mPort(std::move(port)) {}
    MessagePortSource(const MessagePortSource&) = delete;
    MessagePortSource& operator=(const MessagePortSource&) = delete;

private:
    std::weak_ptr<LocalMessagePort> mPort;
    MainLoop::SourceId mWatch = 0;
};

// The sending side: a port looked up by name. Each request travels on a
// connection of its own and waits for its reply there.
class RemoteMessagePort {
public:
    // Fails when no live port of that name exists.
    static Result<std::unique_ptr<RemoteMessagePort>> create(const std::string& name);

    // False once the named port was found gone.
    bool isValid() const { return mValid; }
    // Sends `request` (nullopt: an empty one) and waits for the reply; with
    // `reply` nullptr the reply is discarded. A status of the local transport.
    int32_t sendRequest(const std::optional<std::string>& request, double sendTimeout, double receiveTimeout,
                        std::optional<std::string>* reply);

private:
    RemoteMessagePort(std::string path, std::unique_ptr<LocalSocket> connection);
    int32_t connection(double sendTimeout, std::unique_ptr<LocalSocket>* socket);

    std::string mPath;
    // The look-up's own connection, used by the first request if it follows soon.
    std::unique_ptr<LocalSocket> mLookupConnection;
    double mLookupTime;
    bool mValid = true;
};

}  // namespace platform
