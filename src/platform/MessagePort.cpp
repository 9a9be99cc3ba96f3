#include "platform/MessagePort.h"

#include "platform/Log.h"

#include <algorithm>
#include <chrono>

namespace platform {
namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

Result<std::shared_ptr<LocalMessagePort>> LocalMessagePort::create(const std::string& name, Callback callback,
                                                                   bool* nameTaken) {
    if (nameTaken) *nameTaken = false;
    Result<std::string> path = LocalSocket::pathForName(name);
    if (!path) return path.status();
    Result<std::unique_ptr<LocalSocketListener>> listener = LocalSocketListener::listen(*path, nameTaken);
    if (!listener) return listener.status();
    return std::shared_ptr<LocalMessagePort>(new LocalMessagePort(std::move(*listener), std::move(callback)));
}

LocalMessagePort::LocalMessagePort(std::unique_ptr<LocalSocketListener> listener, Callback callback)
    : mListener(std::move(listener)), mPath(mListener->path()), mCallback(std::move(callback)) {}

LocalMessagePort::~LocalMessagePort() { invalidate(); }

std::shared_ptr<MessagePortSource> LocalMessagePort::createRunLoopSource() {
    auto source = std::make_shared<MessagePortSource>(weak_from_this());
    mSource = source;
    return source;
}

void LocalMessagePort::invalidate() {
    // Watches go before their descriptors close, so no watch outlives its fd.
    if (auto source = mSource.lock()) source->removeFromMainLoop();
    while (!mWaiting.empty()) stopWaiting(mWaiting.begin()->first);
    mListener.reset();
}

void LocalMessagePort::acceptClients() {
    auto keepAlive = shared_from_this();  // a callback may drop the port's last owner
    while (mListener) {
        std::unique_ptr<LocalSocket> client = mListener->accept();
        if (!client) return;
        serve(std::move(client));
    }
}

void LocalMessagePort::serve(std::unique_ptr<LocalSocket> client) {
    std::optional<std::string> request;
    switch (client->receive(&request, 0)) {
        case kLocalSocketSuccess:
            if (request) {
                answer(*client, *request);
            } else {
                Log::debug("message port: a client closed its connection without sending a request");
            }
            break;
        case kLocalSocketReceiveTimeout: wait(std::move(client)); break;
        default: break;  // refused and logged by the socket
    }
}

void LocalMessagePort::wait(std::unique_ptr<LocalSocket> client) {
    if (mWaiting.size() >= kMaxWaitingClients) dropLongestWaiting();
    const int fd = client->fd();
    std::weak_ptr<LocalMessagePort> weak = weak_from_this();
    WaitingClient& waiting = mWaiting[fd];
    waiting.socket = std::move(client);
    waiting.arrival = ++mArrivals;
    waiting.watch = MainLoop::shared().addFdWatch(fd, [weak, fd] {
        if (auto port = weak.lock()) port->clientReadable(fd);
        return false;
    });
    waiting.timer = MainLoop::shared().addTimer(kClientTimeout, false, [weak, fd] {
        if (auto port = weak.lock()) port->clientTimedOut(fd);
    });
}

std::unique_ptr<LocalSocket> LocalMessagePort::stopWaiting(int fd) {
    auto it = mWaiting.find(fd);
    if (it == mWaiting.end()) return nullptr;
    MainLoop::shared().removeSource(it->second.watch);
    MainLoop::shared().removeSource(it->second.timer);
    std::unique_ptr<LocalSocket> socket = std::move(it->second.socket);
    mWaiting.erase(it);
    return socket;
}

void LocalMessagePort::clientReadable(int fd) {
    auto keepAlive = shared_from_this();
    if (std::unique_ptr<LocalSocket> client = stopWaiting(fd)) serve(std::move(client));
}

void LocalMessagePort::dropLongestWaiting() {
    auto longest = std::min_element(mWaiting.begin(), mWaiting.end(),
                                    [](const auto& a, const auto& b) { return a.second.arrival < b.second.arrival; });
    Log::info("message port: %zu clients waiting to send; the one waiting longest is dropped", mWaiting.size());
    stopWaiting(longest->first);
}

void LocalMessagePort::clientTimedOut(int fd) {
    if (stopWaiting(fd)) Log::info("message port: no request within %.1f s; connection closed", kClientTimeout);
}

void LocalMessagePort::answer(LocalSocket& client, const std::string& request) {
    std::optional<std::string> reply = mCallback(request);
    if (!reply) return;
    const int32_t status = client.send(*reply, kClientTimeout);
    if (status != kLocalSocketSuccess && reply->size() <= kLocalSocketMaxMessage)
        Log::warning("message port: reply not delivered: %s", localSocketStatusText(status));
}

void MessagePortSource::addToMainLoop() {
    auto port = mPort.lock();
    if (mWatch || !port || !port->isValid()) return;
    std::weak_ptr<LocalMessagePort> weak = mPort;
    mWatch = MainLoop::shared().addFdWatch(port->mListener->fd(), [weak] {
        auto live = weak.lock();
        if (!live) return false;
        live->acceptClients();
        return true;
    });
}

void MessagePortSource::removeFromMainLoop() {
    if (!mWatch) return;
    MainLoop::shared().removeSource(mWatch);
    mWatch = 0;
}

Result<std::unique_ptr<RemoteMessagePort>> RemoteMessagePort::create(const std::string& name) {
    Result<std::string> path = LocalSocket::pathForName(name);
    if (!path) return path.status();
    std::unique_ptr<LocalSocket> connection;
    switch (LocalSocket::connect(*path, LocalMessagePort::kClientTimeout, &connection)) {
        case kLocalSocketSuccess:
        // A full backlog: the port is there, only busy.
        case kLocalSocketSendTimeout:
            return std::unique_ptr<RemoteMessagePort>(new RemoteMessagePort(*path, std::move(connection)));
        default: return Status::failure("nothing answers at " + *path);
    }
}

RemoteMessagePort::RemoteMessagePort(std::string path, std::unique_ptr<LocalSocket> connection)
    : mPath(std::move(path)), mLookupConnection(std::move(connection)), mLookupTime(now()) {}

int32_t RemoteMessagePort::connection(double sendTimeout, std::unique_ptr<LocalSocket>* socket) {
    // The listener waits only so long for a request on a connection; an
    // older look-up connection may already be closed from its side.
    std::unique_ptr<LocalSocket> lookup = std::move(mLookupConnection);
    if (lookup && now() - mLookupTime < LocalMessagePort::kClientTimeout / 2 && !lookup->peerClosed()) {
        *socket = std::move(lookup);
        return kLocalSocketSuccess;
    }
    const int32_t status = LocalSocket::connect(mPath, sendTimeout, socket);
    if (status == kLocalSocketBecameInvalid) mValid = false;
    return status;
}

int32_t RemoteMessagePort::sendRequest(const std::optional<std::string>& request, double sendTimeout,
                                       double receiveTimeout, std::optional<std::string>* reply) {
    if (!mValid) return kLocalSocketInvalid;
    const std::string_view data = request ? std::string_view(*request) : std::string_view();
    if (data.size() > kLocalSocketMaxMessage) {
        Log::warning("message port: outgoing message of %zu bytes refused (the limit is %zu bytes)", data.size(),
                     kLocalSocketMaxMessage);
        return kLocalSocketTransportError;
    }
    std::unique_ptr<LocalSocket> socket;
    int32_t status = connection(sendTimeout, &socket);
    if (status == kLocalSocketSuccess) status = socket->send(data, sendTimeout);
    std::optional<std::string> received;
    if (status == kLocalSocketSuccess) status = socket->receive(&received, receiveTimeout);
    if (status == kLocalSocketSuccess && reply) *reply = std::move(received);
    return status;
}

}  // namespace platform
