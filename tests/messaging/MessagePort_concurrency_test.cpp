#include "messaging/TROVLocalMessagePort.h"
#include "messaging/TROVRemoteMessagePort.h"

#include "MessageTestSupport.h"
#include "platform/LocalSocket.h"
#include "platform/MessagePort.h"
#include "TemporaryDirectory.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>

using namespace msgtest;

namespace {

constexpr char kName[] = "org.trovario.PortTest";

// Answers every request with the request itself, and counts them.
struct EchoHandler : TROVMessageHandler {
    std::optional<std::string> HandleMachMessage(const TROVMessage& message) override {
        ++seen;
        return message.flatten();
    }
    std::atomic<int> seen{0};
};

class MessagePortTest : public testing::Test {
protected:
    // The port, answered by `handler`, served on the main loop whenever it runs.
    std::shared_ptr<TROVLocalMessagePort> openPort() {
        auto port = TROVLocalMessagePort::initWithName(kName);
        port->setDelegate(&handler);
        if (port->runLoopSource()) port->runLoopSource()->addToMainLoop();
        return port;
    }

    TemporaryDirectory runtime;
    ScopedEnvironment runtimeVariable{"XDG_RUNTIME_DIR", runtime.path().c_str()};
    EchoHandler handler;
};

// One remote port sends many requests, every other one not wanting the reply.
TEST_F(MessagePortTest, RequestsAndOneWayMessagesTravelThroughTheNamedPort) {
    auto port = openPort();
    // The "n" of each reply, -1 where none was wanted.
    auto replies = whileServing([] {
        std::vector<int> received;
        auto remote = TROVRemoteMessagePort::initWithName(kName);
        for (int i = 0; remote && i < 6; ++i) {
            auto request = TROVMessage::initWithRemoteMessagePort(remote);
            request->setValueWithSInt32("n", i);
            auto reply = request->sendWithReply(i % 2 == 0);
            received.push_back(reply ? getInt(*reply, "n").value_or(-2) : -1);
        }
        return received;
    });
    EXPECT_EQ(replies, (std::vector<int>{0, -1, 2, -1, 4, -1}));
    EXPECT_EQ(handler.seen, 6);

    // Without a delegate the request is answered with no data.
    port->setDelegate(nullptr);
    auto outcome = whileServing([] {
        std::optional<std::string> reply = std::string("not replaced");
        auto remote = TROVRemoteMessagePort::initWithName(kName);
        return std::make_pair(remote ? remote->sendRequestWithReply("", 0.5, 0.5, &reply) : -99, reply);
    });
    EXPECT_EQ(outcome, std::make_pair(0, std::optional<std::string>()));
}

// The socket is private and owned by the first port; the main loop never runs
// here: nobody serves.
TEST_F(MessagePortTest, PrivateSocketOversizeUnansweredAndVanishedPeersFailWithTheirStatus) {
    auto port = openPort();
    struct stat info {};
    ASSERT_EQ(lstat((runtime / kName).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & (S_IFMT | 0777), S_IFSOCK | 0600u);
    auto second = TROVLocalMessagePort::initWithName(kName);
    EXPECT_EQ(second->runLoopSource(), nullptr);
    EXPECT_TRUE(second->nameTaken());
    second.reset();  // must not remove the first port's socket
    auto remote = TROVRemoteMessagePort::initWithName(kName);
    ASSERT_TRUE(remote);
    std::optional<std::string> reply;
    EXPECT_EQ(remote->sendRequestWithReply(std::string(10 << 20, 'x'), 0.5, 0.5, &reply), -4);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(remote->sendRequestWithReply("", 0.5, 0.5, &reply), -2);
    // It waited for its time-out, and not much longer.
    EXPECT_NEAR(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 0.95, 0.5);
    EXPECT_TRUE(remote->isValid());

    port.reset();
    EXPECT_FALSE(std::filesystem::exists(runtime / kName));
    EXPECT_EQ(remote->sendRequestWithReply("", 0.5, 0.5, &reply), -5);
    EXPECT_FALSE(remote->isValid());
    EXPECT_EQ(remote->sendRequest(std::nullopt, 0.5, 0.5), -1);
    EXPECT_EQ(handler.seen, 0);
}

TEST(MessagePortPath, WithoutARuntimeFolderAPrivateTemporaryFolderIsUsedAndOddNamesAreRefused) {
    TemporaryDirectory tmp;
    ScopedEnvironment missing("XDG_RUNTIME_DIR", (tmp / "gone").c_str()), tmpdir("TMPDIR", tmp.path().c_str());
    const std::string folder = tmp / ("trovario-" + std::to_string(geteuid()));
    auto path = platform::LocalSocket::pathForName(kName);
    ASSERT_TRUE(path) << path.message();
    EXPECT_EQ(*path, folder + "/" + kName);
    struct stat info {};
    EXPECT_TRUE(lstat(folder.c_str(), &info) == 0 && (info.st_mode & 0777) == 0700);
    for (const std::string& name : {std::string("../escape"), std::string(), std::string(200, 'n')})
        EXPECT_FALSE(platform::LocalSocket::pathForName(name)) << name;

    chmod(folder.c_str(), 0755);  // opened up by someone: not private any more
    EXPECT_FALSE(platform::LocalSocket::pathForName(kName));
    rmdir(folder.c_str());
    ASSERT_EQ(symlink(tmp.path().c_str(), folder.c_str()), 0);  // planted link
    EXPECT_FALSE(platform::LocalSocket::pathForName(kName));
}

}  // namespace

// A crowd of peers that connect and say nothing: every request still gets its
// answer, and the peers that waited longest are the ones dropped.
TEST_F(MessagePortTest, IdlePeersBeyondTheBoundMakeRoomAndRequestsAreStillAnswered) {
    auto port = openPort();
    const size_t crowd = platform::LocalMessagePort::kMaxWaitingClients + 40;
    auto [answered, firstDropped, lastKept] = whileServing([&] {
        std::vector<std::unique_ptr<platform::LocalSocket>> idle(crowd);
        for (auto& peer : idle) platform::LocalSocket::connect(runtime / kName, 1.0, &peer);
        int answered = 0;
        auto remote = TROVRemoteMessagePort::initWithName(kName);
        for (int i = 0; remote && i < 20; ++i) answered += TROVMessage::initWithRemoteMessagePort(remote)->sendWithReply(true) != nullptr;
        char byte;
        const bool firstDropped = idle.front() && recv(idle.front()->fd(), &byte, 1, MSG_DONTWAIT) == 0;
        const bool lastKept = idle.back() && recv(idle.back()->fd(), &byte, 1, MSG_DONTWAIT) < 0 && errno == EAGAIN;
        return std::tuple(answered, firstDropped, lastKept);
    });
    EXPECT_EQ(answered, 20);
    EXPECT_TRUE(firstDropped);
    EXPECT_TRUE(lastKept);
}
