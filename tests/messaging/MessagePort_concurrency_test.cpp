#include "messaging/TROVLocalMessagePort.h"
#include "messaging/TROVRemoteMessagePort.h"

#include "MessageTestSupport.h"
#include "TemporaryDirectory.h"
#include "platform/Log.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <mutex>
#include <vector>

using namespace msgtest;

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

    // The port, served by `handler` unless told otherwise, on the main loop.
    std::shared_ptr<TROVLocalMessagePort> openPort(TROVMessageHandler* delegate) {
        auto port = TROVLocalMessagePort::initWithName(kName);
        port->setDelegate(delegate);
        if (port->runLoopSource()) port->runLoopSource()->addToMainLoop();
        return port;
    }
    std::shared_ptr<TROVLocalMessagePort> openPort() { return openPort(&handler); }

    std::string socketPath() const { return runtime / kName; }

    TemporaryDirectory runtime;
    ScopedEnvironment runtimeVariable{"XDG_RUNTIME_DIR", runtime.path().c_str()};
    EchoHandler handler;
};

// One remote port sends many requests, every other one not wanting the reply
// (it waits for the reply, then drops it).
TEST_F(MessagePortTest, RequestsAndOneWayMessagesTravelThroughTheNamedPort) {
    auto port = openPort();
    auto replies = whileServing([] {
        std::vector<std::shared_ptr<TROVMessage>> received;
        auto remote = TROVRemoteMessagePort::initWithName(kName);
        for (int i = 0; remote && i < 20; ++i) {
            auto request = TROVMessage::initWithRemoteMessagePort(remote);
            request->setValueWithSInt32("msgID", 0x72546C6D);
            request->setValueWithSInt32("n", i);
            received.push_back(request->sendWithReply(i % 2 == 0));
        }
        return received;
    });
    ASSERT_EQ(replies.size(), 20u);
    for (int i = 0; i < 20; i += 2) {
        ASSERT_TRUE(replies[i]) << i;
        EXPECT_EQ(getInt(*replies[i], "n"), i);
        EXPECT_EQ(getInt(*replies[i], "msgID"), 0x72546C6D);
        EXPECT_EQ(getBool(*replies[i], "answered", false), true);
        EXPECT_EQ(replies[i]->messagePort(), nullptr);
        EXPECT_EQ(replies[i + 1], nullptr);
    }
    EXPECT_EQ(handler.seen(), 20u);
}

TEST_F(MessagePortTest, PortWithoutDelegateAnswersWithNoReplyData) {
    auto port = openPort(nullptr);
    auto outcome = whileServing([] {
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

TEST_F(MessagePortTest, SocketIsPrivateOwnedByTheFirstPortAndGoesWithIt) {
    auto first = openPort();
    ASSERT_TRUE(first->runLoopSource());
    struct stat info {};
    ASSERT_EQ(lstat(socketPath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    platform::LogCapture log;
    auto second = TROVLocalMessagePort::initWithName(kName);
    EXPECT_EQ(second->runLoopSource(), nullptr);
    EXPECT_TRUE(second->nameTaken());
    EXPECT_TRUE(log.contains("is in use by a running process"));
    second.reset();  // must not remove the first port's socket
    EXPECT_EQ(lstat(socketPath().c_str(), &info), 0);
    first.reset();
    EXPECT_NE(lstat(socketPath().c_str(), &info), 0);
}

TEST_F(MessagePortTest, UnknownNamesFindNothingAndASocketLeftByADeadOwnerIsReclaimed) {
    {  // bound and closed without unlinking, as after a crash
        int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath().c_str());
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        close(fd);
    }
    EXPECT_EQ(TROVRemoteMessagePort::initWithName(kName), nullptr);
    EXPECT_EQ(TROVRemoteMessagePort::initWithName("org.trovario.Nobody"), nullptr);
    auto port = openPort();
    ASSERT_TRUE(port->runLoopSource());
    bool answered = whileServing([] {
        auto remote = TROVRemoteMessagePort::initWithName(kName);
        return remote && TROVMessage::initWithRemoteMessagePort(remote)->sendWithReply(true) != nullptr;
    });
    EXPECT_TRUE(answered);
}

TEST_F(MessagePortTest, RemotePortBecomesInvalidWhenThePeerGoes) {
    auto port = openPort();
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
    auto port = openPort();  // the main loop never runs here: nobody serves
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
    auto port = openPort();
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

TEST(MessagePortPath, WithoutRuntimeFolderAPrivateTemporaryFolderIsUsedAndOddNamesAreRefused) {
    TemporaryDirectory tmp;
    ScopedEnvironment noRuntime("XDG_RUNTIME_DIR", nullptr);
    ScopedEnvironment tmpdir("TMPDIR", tmp.path().c_str());
    auto path = platform::LocalSocket::pathForName(kName);
    const std::string folder = tmp / ("trovario-" + std::to_string(geteuid()));
    ASSERT_TRUE(path) << path.message();
    EXPECT_EQ(*path, folder + "/" + kName);
    struct stat info {};
    ASSERT_EQ(lstat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    // Names that are no plain file names are refused.
    EXPECT_FALSE(platform::LocalSocket::pathForName("../escape"));
    EXPECT_FALSE(platform::LocalSocket::pathForName(""));
    auto tooLong = platform::LocalSocket::pathForName(std::string(200, 'n'));
    EXPECT_NE(tooLong.message().find("too long"), std::string::npos);

    chmod(folder.c_str(), 0755);  // opened up by someone: not private any more
    auto opened = platform::LocalSocket::pathForName(kName);
    EXPECT_NE(opened.message().find("not a private folder"), std::string::npos);
    rmdir(folder.c_str());
    ASSERT_EQ(symlink(tmp.path().c_str(), folder.c_str()), 0);  // planted link
    EXPECT_FALSE(platform::LocalSocket::pathForName(kName));
}

}  // namespace
