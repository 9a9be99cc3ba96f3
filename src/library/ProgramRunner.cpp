#include "library/ProgramRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

extern char** environ;

namespace {

// Enough of standard error to say why a program failed.
constexpr size_t kErrorTailBytes = 2000;
// Polls: a program may close standard error long before it ends.
constexpr auto kExitPollInterval = std::chrono::milliseconds(5);

using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;

// A file descriptor closed with its owner.
struct Descriptor {
    int mFd = -1;
    Descriptor() = default;
    Descriptor(const Descriptor&) = delete;
    ~Descriptor() { reset(); }
    void reset(int fd = -1) {
        if (mFd >= 0) close(mFd);
        mFd = fd;
    }
};

// Standard error comes through a pipe. Standard input is a socket, so that
// writing to a program that stopped reading fails with EPIPE instead of
// raising SIGPIPE in the agent (MSG_NOSIGNAL).
bool openChannels(Descriptor& errorsOurs, Descriptor& errorsTheirs, Descriptor& inputOurs, Descriptor& inputTheirs,
                  bool withInput) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    errorsOurs.reset(fds[0]);
    errorsTheirs.reset(fds[1]);
    if (!withInput) return true;
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return false;
    inputOurs.reset(fds[0]);
    inputTheirs.reset(fds[1]);
    return true;
}

pid_t spawn(const std::vector<std::string>& arguments, int input, int errors, int& error) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input >= 0) posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    else posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, errors, STDERR_FILENO);
    pid_t pid = -1;
    error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

// poll's wait: -1 without a deadline, 0 once it has passed.
int millisecondsLeft(const Deadline& deadline) {
    if (!deadline) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

// A program that stops reading gets no more; its exit status tells whether
// that was a failure.
void feed(Descriptor& input, std::string_view& pending) {
    ssize_t n = send(input.mFd, pending.data(), pending.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n > 0) pending.remove_prefix(size_t(n));
    if (n < 0 || pending.empty()) input.reset();
}

void collect(Descriptor& errors, std::string& tail) {
    char buffer[4096];
    ssize_t n = read(errors.mFd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) return;
    if (n <= 0) {
        errors.reset();
        return;
    }
    tail.append(buffer, size_t(n));
    if (tail.size() > kErrorTailBytes) tail.erase(0, tail.size() - kErrorTailBytes);
}

// Writes the input and reads standard error until both are closed; false
// when the deadline passed first.
bool exchange(Descriptor& input, std::string_view pending, Descriptor& errors, std::string& tail,
              const Deadline& deadline) {
    while (input.mFd >= 0 || errors.mFd >= 0) {
        pollfd entries[2] = {{input.mFd, POLLOUT, 0}, {errors.mFd, POLLIN, 0}};  // poll skips a closed one
        const int wait = millisecondsLeft(deadline);
        if (wait == 0) return false;
        const int ready = poll(entries, 2, wait);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return true;  // the exit status still decides
        if (entries[0].revents) feed(input, pending);
        if (entries[1].revents) collect(errors, tail);
    }
    return true;
}

// The exit status, or nothing when the deadline passed first.
std::optional<int> waitFor(pid_t pid, const Deadline& deadline) {
    int status = 0;
    for (;;) {
        pid_t done = waitpid(pid, &status, deadline ? WNOHANG : 0);
        if (done == pid) return status;
        if (done < 0 && errno != EINTR) return status;
        if (deadline && Clock::now() >= *deadline) return std::nullopt;
        if (done == 0) std::this_thread::sleep_for(kExitPollInterval);
    }
}

platform::Status outcome(const std::string& program, int status, std::string tail) {
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return platform::Status::success();
    std::string how = WIFEXITED(status) ? "exited with " + std::to_string(WEXITSTATUS(status))
                                        : "was ended by signal " + std::to_string(WTERMSIG(status));
    while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r')) tail.pop_back();
    return platform::Status::failure(program + " " + how + (tail.empty() ? "" : ": " + tail));
}

}  // namespace

platform::Status ProgramRunner::run(const std::vector<std::string>& arguments, int timeoutSeconds,
                                    std::string_view input) {
    if (arguments.empty() || arguments[0].empty()) return platform::Status::failure("no program to run");
    const std::string& program = arguments[0];
    Descriptor errorsOurs, errorsTheirs, inputOurs, inputTheirs;
    if (!openChannels(errorsOurs, errorsTheirs, inputOurs, inputTheirs, !input.empty()))
        return platform::Status::failure("cannot run " + program + ": " + std::strerror(errno));
    int error = 0;
    pid_t pid = spawn(arguments, inputTheirs.mFd, errorsTheirs.mFd, error);
    if (pid < 0) return platform::Status::failure("cannot run " + program + ": " + std::strerror(error));
    errorsTheirs.reset();
    inputTheirs.reset();

    Deadline deadline;
    if (timeoutSeconds > 0) deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    std::string tail;
    std::optional<int> status;
    if (exchange(inputOurs, input, errorsOurs, tail, deadline)) status = waitFor(pid, deadline);
    if (!status) {
        kill(pid, SIGKILL);
        waitFor(pid, std::nullopt);
        return platform::Status::failure(program + " did not finish within " + std::to_string(timeoutSeconds) +
                                         " seconds and was stopped");
    }
    return outcome(program, *status, std::move(tail));
}
