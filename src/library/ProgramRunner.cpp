#include "library/ProgramRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
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

using Clock = std::chrono::steady_clock;

struct Pipe {
    int mRead = -1, mWrite = -1;
    ~Pipe() {
        if (mRead >= 0) close(mRead);
        if (mWrite >= 0) close(mWrite);
    }
};

pid_t spawn(const std::vector<std::string>& arguments, Pipe& errors, int& error) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, errors.mWrite, STDERR_FILENO);
    pid_t pid = -1;
    error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

// Reads standard error until it closes or the deadline passes; false on time-out.
bool drain(int fd, std::string& tail, std::optional<Clock::time_point> deadline) {
    char buffer[4096];
    for (;;) {
        int wait = -1;
        if (deadline) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
            if (left <= 0) return false;
            wait = int(left);
        }
        pollfd entry{fd, POLLIN, 0};
        int ready = poll(&entry, 1, wait);
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) return false;
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return true;
        tail.append(buffer, size_t(n));
        if (tail.size() > kErrorTailBytes) tail.erase(0, tail.size() - kErrorTailBytes);
    }
}

// Polls: a program may close standard error long before it ends.
constexpr auto kExitPollInterval = std::chrono::milliseconds(5);

// The exit status, or nothing when the deadline passed first.
std::optional<int> waitFor(pid_t pid, std::optional<Clock::time_point> deadline) {
    int status = 0;
    for (;;) {
        pid_t done = waitpid(pid, &status, deadline ? WNOHANG : 0);
        if (done == pid) return status;
        if (done < 0 && errno != EINTR) return status;
        if (deadline && Clock::now() >= *deadline) return std::nullopt;
        if (done == 0) std::this_thread::sleep_for(kExitPollInterval);
    }
}

}  // namespace

platform::Status ProgramRunner::run(const std::vector<std::string>& arguments, int timeoutSeconds) {
    if (arguments.empty() || arguments[0].empty()) return platform::Status::failure("no program to run");
    const std::string& program = arguments[0];
    Pipe errors;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return platform::Status::failure(program + ": " + std::strerror(errno));
    errors.mRead = fds[0];
    errors.mWrite = fds[1];
    int error = 0;
    pid_t pid = spawn(arguments, errors, error);
    if (pid < 0) return platform::Status::failure("cannot run " + program + ": " + std::strerror(error));
    close(errors.mWrite);
    errors.mWrite = -1;

    std::optional<Clock::time_point> deadline;
    if (timeoutSeconds > 0) deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    std::string tail;
    std::optional<int> status;
    if (drain(errors.mRead, tail, deadline)) status = waitFor(pid, deadline);
    if (!status) {
        kill(pid, SIGKILL);
        waitFor(pid, std::nullopt);
        return platform::Status::failure(program + " did not finish within " + std::to_string(timeoutSeconds) +
                                         " seconds and was stopped");
    }
    if (WIFEXITED(*status) && WEXITSTATUS(*status) == 0) return platform::Status::success();
    std::string how = WIFEXITED(*status) ? "exited with " + std::to_string(WEXITSTATUS(*status))
                                         : "was ended by signal " + std::to_string(WTERMSIG(*status));
    while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r')) tail.pop_back();
    return platform::Status::failure(program + " " + how + (tail.empty() ? "" : ": " + tail));
}
