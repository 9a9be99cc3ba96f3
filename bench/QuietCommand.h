#pragma once

// Runs the named peer programs the benchmarks measure against.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <string>
#include <vector>

namespace bench {

// Runs a command with its output thrown away; its exit status. Its CPU
// seconds are added to `cpuSeconds` when given (a benchmark's own CPU column
// omits its children).
inline int runQuietly(const std::vector<std::string>& command, double* cpuSeconds = nullptr) {
    std::vector<char*> argv;
    for (const std::string& argument : command) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int status = -1;
    struct rusage usage {};
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) wait4(pid, &status, 0, &usage);
    if (cpuSeconds)
        *cpuSeconds += double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    posix_spawn_file_actions_destroy(&actions);
    return status;
}

}  // namespace bench
