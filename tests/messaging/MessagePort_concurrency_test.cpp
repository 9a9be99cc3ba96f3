#include "messaging/TROVLocalMessagePort.h"
#include "messaging/TROVMessage.h"
#include "messaging/TROVRemoteMessagePort.h"
#include "platform/Log.h"
#include "platform/MainLoop.h"
#include "TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <future>
#include <mutex>
#include <vector>

namespace {

constexpr char kName[] = "org.trovario.PortTest";

// A delegate that answers every request with the request's own keys plus
// "answered" and keeps what it was sent.
class EchoHandler : public TROVMessageHandler {
public:
    std::optional<std::string> HandleMachMessage(const TROVMessage& message) override {
        std::lock_guard guard(mLock);
        mSeen.push_back(message.messageDictionary());
        auto reply = TROVMessage::initWithData(message.flatten());
        reply->setValueWithBoolean("answered", true);
        return reply->flatten();
    }
    size_t seen() const {
        std::lock_guard guard(mLock);
        return mSeen.size();
    }

private:
    mutable std::mutex mLock;
    std::vector<platform::PropertyList> mSeen;
};

class MessagePortTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(runtime.path().empty()); }

    std::shared_ptr<TROVLocalMessagePort> openPort(TROVMessageHandler* delegate) {
        auto port = TROVLocalMessagePort::initWithName(kName);
        port->setDelegate(delegate);
        if (port->runLoopSource()) port->runLoopSource()->addToMainLoop();
        return port;
    }

    // Runs `client` on another thread while the main loop serves the port.
    template <typename Result>
    Result whileServing(std::function<Result()> client, double timeout = 5.0) {
        auto result = std::async(std::launch::async, std::move(client));
        platform::MainLoop::shared().runUntil(
            [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, timeout);
        return result.get();
    }

    std::string socketPath() const { return runtime / kName; }

    TemporaryDirectory runtime;
    ScopedEnvironment runtimeVariable{"XDG_RUNTIME_DIR", runtime.path().c_str()};
};

TEST_F(MessagePortTest, RequestAndReplyTravelThroughTheNamedPort) {
    EchoHandler handler;
    auto port = openPort(&handler);
    auto reply = whileServing<std::shared_ptr<TROVMessage>>([] {
        auto remote = TROVRemoteMessagePort::initWithName(kName);
        if (!remote) return std::shared_ptr<TROVMessage>();
        auto request = TROVMessage::initWithRemoteMessagePort(remote);
        request->setValueWithSInt32("msgID", 0x72546C6D);
        return request->sendWithReply(true);
    });
    ASSERT_TRUE(reply);
    int32_t id = 0;
    bool answered = false;
    EXPECT_TRUE(reply->getValueSInt32("msgID", id));
    EXPECT_TRUE(reply->getValueBoolean("answered", answered));
    EXPECT_EQ(id, 0x72546C6D);
    EXPECT_EQ(reply->messagePort(), nullptr);
    EXPECT_EQ(handler.seen(), 1u);
}

TEST_F(MessagePortTest, OneRemotePortSendsManyRequestsAndOneWayMessages) {
    EchoHandler handler;
    auto port = openPort(&handler);
    int answered = whileServing<int>([] {
        auto remote = TROVRemoteMessagePort::initWithName(kName);
        int count = 0;
        for (int i = 0; remote && i < 20; ++i) {
            auto request = TROVMessage::initWithRemoteMessagePort(remote);
            request->setValueWithSInt32("n", i);
            if (i % 2) {
                request->sendWithReply(false);  // waits for the reply, then drops it
                continue;
            }
            int32_t n = -1;
            auto reply = request->sendWithReply(true);
            if (reply && reply->getValueSInt32("n", n) && n == i) ++count;
        }
        return count;
    });
    EXPECT_EQ(answered, 10);
    EXPECT_EQ(handler.seen(), 20u);
}

TEST_F(MessagePortTest, PortWithoutDelegateAnswersWithNoReplyData) {
    auto port = openPort(nullptr);
    auto outcome = whileServing<std::pair<int32_t, bool>>([] {
        auto remote = TROVRemoteMessagePort::initWithName(kName);
        if (!remote) return std::make_pair(int32_t(-99), false);
        std::optional<std::string> reply = std::string("not replaced");
        int32_t status = remote->sendRequestWithReply(TROVMessage::initWithData(std::nullopt)->flatten(), 0.5, 0.5,
                                                      &reply);
        return std::make_pair(status, reply.has_value());
    });
    EXPECT_EQ(outcome.first, 0);
    EXPECT_FALSE(outcome.second);
}

TEST_F(MessagePortTest, LookupOfAnUnknownNameFindsNothing) {
    EXPECT_EQ(TROVRemoteMessagePort::initWithName("org.trovario.Nobody"), nullptr);
}

TEST_F(MessagePortTest, SecondPortOfTheSameNameHasNoSource) {
    EchoHandler handler;
    auto first = openPort(&handler);
    ASSERT_TRUE(first->runLoopSource());
    platform::LogCapture log;
    auto second = TROVLocalMessagePort::initWithName(kName);
    EXPECT_EQ(second->runLoopSource(), nullptr);
    EXPECT_TRUE(second->nameTaken());
    EXPECT_TRUE(log.contains("is in use by a running process"));
    second.reset();  // must not remove the first port's socket
    struct stat info {};
    EXPECT_EQ(lstat(socketPath().c_str(), &info), 0);
}

TEST_F(MessagePortTest, SocketIsPrivateAndGoesWithThePort) {
    EchoHandler handler;
    auto port = openPort(&handler);
    struct stat info {};
    ASSERT_EQ(lstat(socketPath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    port.reset();
    EXPECT_NE(lstat(socketPath().c_str(), &info), 0);
}

TEST_F(MessagePortTest, SocketLeftByADeadOwnerIsReclaimed) {
    {  // bound and closed without unlinking, as after a crash
        int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath().c_str());
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        close(fd);
    }
    EXPECT_EQ(TROVRemoteMessagePort::initWithName(kName), nullptr);
    EchoHandler handler;
    auto port = openPort(&handler);
    ASSERT_TRUE(port->runLoopSource());
    bool answered = whileServing<bool>([] {
        auto remote = TROVRemoteMessagePort::initWithName(kName);
        return remote && TROVMessage::initWithRemoteMessagePort(remote)->sendWithReply(true) != nullptr;
    });
    EXPECT_TRUE(answered);
}

TEST_F(MessagePortTest, RemotePortBecomesInvalidWhenThePeerGoes) {
    EchoHandler handler;
    auto port = openPort(&handler);
    auto remote = TROVRemoteMessagePort::initWithName(kName);
    ASSERT_TRUE(remote);
    port.reset();
    platform::LogCapture log;
    auto message = TROVMessage::initWithRemoteMessagePort(remote);
    // The look-up's connection was to the port that has gone.
    EXPECT_EQ(message->sendWithReply(true), nullptr);
    EXPECT_TRUE(log.contains("sendRequest(reply:1) error:-5"));
    EXPECT_FALSE(remote->isValid());
    EXPECT_EQ(remote->sendRequest(std::nullopt, 0.5, 0.5), -1);
}

TEST_F(MessagePortTest, PeerThatDoesNotAnswerCostsTheReceiveTimeout) {
    EchoHandler handler;
    auto port = openPort(&handler);  // the main loop never runs here: nobody serves
    auto remote = TROVRemoteMessagePort::initWithName(kName);
    ASSERT_TRUE(remote);
    platform::LogCapture log;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(TROVMessage::initWithRemoteMessagePort(remote)->sendWithReply(true), nullptr);
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(waited, 0.45);
    EXPECT_LT(waited, 1.5);
    EXPECT_TRUE(log.contains("sendRequest(reply:1) error:-2"));
    EXPECT_TRUE(remote->isValid());
}

TEST_F(MessagePortTest, OversizeRequestIsRefusedBeforeSending) {
    EchoHandler handler;
    auto port = openPort(&handler);
    auto remote = TROVRemoteMessagePort::initWithName(kName);
    ASSERT_TRUE(remote);
    auto message = TROVMessage::initWithRemoteMessagePort(remote);
    message->setValueWithNSString("path", std::string(10 << 20, 'x'));
    platform::LogCapture log;
    EXPECT_EQ(message->sendWithReply(true), nullptr);
    EXPECT_TRUE(log.contains("outgoing message of"));
    EXPECT_TRUE(log.contains("sendRequest(reply:1) error:-4"));
    EXPECT_EQ(handler.seen(), 0u);
}

TEST(MessagePortPath, WithoutRuntimeFolderAPrivateTemporaryFolderIsUsed) {
    TemporaryDirectory tmp;
    ScopedEnvironment noRuntime("XDG_RUNTIME_DIR", nullptr);
    ScopedEnvironment tmpdir("TMPDIR", tmp.path().c_str());
    std::string error;
    std::optional<std::string> path = platform::LocalSocket::pathForName(kName, &error);
    const std::string folder = tmp / ("trovario-" + std::to_string(geteuid()));
    ASSERT_TRUE(path) << error;
    EXPECT_EQ(*path, folder + "/" + kName);
    struct stat info {};
    ASSERT_EQ(lstat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    chmod(folder.c_str(), 0755);  // opened up by someone: not private any more
    EXPECT_FALSE(platform::LocalSocket::pathForName(kName, &error));
    EXPECT_NE(error.find("not a private folder"), std::string::npos);
    rmdir(folder.c_str());
    ASSERT_EQ(symlink(tmp.path().c_str(), folder.c_str()), 0);  // planted link
    EXPECT_FALSE(platform::LocalSocket::pathForName(kName, &error));
}

TEST(MessagePortPath, UnusableNamesAreRefused) {
    std::string error;
    EXPECT_FALSE(platform::LocalSocket::pathForName("../escape", &error));
    EXPECT_FALSE(platform::LocalSocket::pathForName("", &error));
    EXPECT_FALSE(platform::LocalSocket::pathForName(std::string(200, 'n'), &error));
    EXPECT_NE(error.find("too long"), std::string::npos);
}

}  // namespace
