// Round trip of 'rTlm' through TROVMessage::sendWithReply against a running
// trovario-agent, and the same bytes through a bare SOCK_SEQPACKET echo
// server (one connection per request, as the message port does), measured
// in alternating batches in the same run.
//
// usage: messaging_roundtrip_bench [REQUESTS]   (default 10000)

#include "agent/TROVDMessages.h"
#include "messaging/TROVMessage.h"
#include "platform/ServiceNames.h"

#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_un addressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    return address;
}

// The peer: answers every connection's one message with the same bytes.
pid_t startEchoServer(const std::string& path) {
    int listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address = addressOf(path);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 128) != 0) {
        perror("echo server");
        exit(1);
    }
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char> buffer(64 * 1024);
        while (true) {
            int client = accept(listener, nullptr, nullptr);
            ssize_t n = recv(client, buffer.data(), buffer.size(), 0);
            if (n > 0) send(client, buffer.data(), static_cast<size_t>(n), MSG_NOSIGNAL);
            close(client);
        }
    }
    close(listener);
    return pid;
}

double echoOnce(const std::string& path, const std::string& bytes, std::vector<char>& buffer) {
    const auto start = Clock::now();
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address = addressOf(path);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0 || recv(fd, buffer.data(), buffer.size(), 0) <= 0) {
        perror("echo");
        exit(1);
    }
    close(fd);
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

double agentOnce(const std::shared_ptr<TROVRemoteMessagePort>& port) {
    const auto start = Clock::now();
    auto request = TROVMessage::initWithRemoteMessagePort(port);
    request->setValueWithSInt32(kTROVDMessageIDKey, kTROVDMessage_RequestTelemetry);
    auto reply = request->sendWithReply(true);
    int32_t id = 0;
    if (!reply || !reply->getValueSInt32(kTROVDMessageIDKey, id) || id != kTROVDMessage_Telemetry) {
        fprintf(stderr, "no telemetry reply\n");
        exit(1);
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

pid_t startAgent(const std::string& runtime) {
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (runtime + "/config").c_str(), 1);
    char* argv[] = {const_cast<char*>(TROV_AGENT_PATH), nullptr};
    pid_t pid = -1;
    posix_spawn(&pid, TROV_AGENT_PATH, nullptr, nullptr, argv, environ);
    const std::string socketPath = runtime + "/" + platform::kAgentServiceName;
    struct stat info {};
    for (int i = 0; i < 500 && stat(socketPath.c_str(), &info) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return pid;
}

struct Summary {
    double median;
    double p99;
};

Summary summarise(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples[samples.size() * 99 / 100]};
}

}  // namespace

int main(int argc, char** argv) {
    const int requests = argc > 1 ? atoi(argv[1]) : 10000;
    char pattern[] = "/tmp/trov-bench-XXXXXX";
    const std::string runtime = mkdtemp(pattern);
    const std::string echoPath = runtime + "/echo";
    pid_t agent = startAgent(runtime);
    pid_t echo = startEchoServer(echoPath);
    auto port = TROVRemoteMessagePort::initWithName(platform::kAgentServiceName);
    if (!port) {
        fprintf(stderr, "trovario-agent did not start\n");
        return 1;
    }
    auto request = TROVMessage::initWithRemoteMessagePort(port);
    request->setValueWithSInt32(kTROVDMessageIDKey, kTROVDMessage_RequestTelemetry);
    const std::string bytes = *request->flatten();

    std::vector<char> buffer(64 * 1024);
    std::vector<double> agentTimes, echoTimes;
    for (int i = 0; i < 200; ++i) agentOnce(port), echoOnce(echoPath, bytes, buffer);  // warm-up
    const int batch = 500;
    for (int done = 0; done < requests; done += batch) {
        for (int i = 0; i < batch && done + i < requests; ++i) agentTimes.push_back(agentOnce(port));
        for (int i = 0; i < batch && done + i < requests; ++i) echoTimes.push_back(echoOnce(echoPath, bytes, buffer));
    }
    kill(echo, SIGKILL);
    kill(agent, SIGTERM);
    waitpid(echo, nullptr, 0);
    waitpid(agent, nullptr, 0);
    std::system(("rm -rf " + runtime).c_str());

    const Summary agentSummary = summarise(agentTimes), echoSummary = summarise(echoTimes);
    printf("%d requests of %zu bytes each way (alternating batches of %d)\n", requests, bytes.size(), batch);
    printf("%-40s median %8.1f us   p99 %8.1f us\n", "TROVMessage sendWithReply 'rTlm' (agent)", agentSummary.median,
           agentSummary.p99);
    printf("%-40s median %8.1f us   p99 %8.1f us\n", "bare SOCK_SEQPACKET echo", echoSummary.median, echoSummary.p99);
    const double ratio = agentSummary.median / echoSummary.median;
    const bool pass = ratio <= 3.0 && agentSummary.median < 200.0;
    printf("median ratio %.2fx (bar: <= 3x and median < 200 us): %s\n", ratio, pass ? "PASS" : "FAIL");
    return pass ? 0 : 1;
}
