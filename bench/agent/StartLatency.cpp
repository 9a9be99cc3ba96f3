// The latency from `trovarioctl start` to the first captured frame. A chirp,
// whose every frame tells when it played, runs into the default output (so
// that, like any player's stream, it moves to the capture device with the
// default) or into a sink named by SINK; `trovarioctl
// start` is run at a noted instant; after a few seconds `trovarioctl stop
// --wait`; the first frames of the scratch recording are then found in the
// chirp, and set against the chirp's frame that the sink was rendering (handing
// to its monitor, which the agent records) and the one it was playing when the
// command ran. A positive latency is audio after the command that the
// recording lacks; a negative one, audio from before it that it holds.
// Run by bench/agent/start_latency.sh, which sets up the server and the agent.
// Usage: trov_start_latency TROVARIOCTL [RUNS] [SINK]
// Exit codes: 0 within the bar, 1 the bar missed, 2 usage, 3 a run not measured.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "ChirpPlayer.h"
#include "platform/Paths.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kSettle = 5s;  // the server's timing of a new stream settles within seconds
constexpr auto kCapture = 3s;
constexpr float kSilence = 1.0f / 32768;
constexpr int kExitBarMissed = 1, kExitUsage = 2, kExitNotMeasured = 3;

// The exit status of `program arguments...`, its output set aside (its
// errors still shown), or -1 when it could not run.
int run(const std::vector<std::string>& command) {
    std::vector<char*> argv;
    for (const std::string& part : command) argv.push_back(const_cast<char*>(part.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// The scratch recording's interleaved stereo frames, decoded by ffmpeg.
std::vector<float> decoded(const std::string& path) {
    std::vector<float> samples;
    FILE* pipe = popen(("ffmpeg -v error -i '" + path + "' -f f32le -").c_str(), "r");
    if (!pipe) return samples;
    float block[4096];
    for (size_t got; (got = fread(block, sizeof(float), 4096, pipe)) > 0;) samples.insert(samples.end(), block, block + got);
    pclose(pipe);
    return samples;
}

size_t firstSound(const std::vector<float>& stereo) {
    size_t frame = 0;
    while (2 * frame < stereo.size() && std::fabs(stereo[2 * frame]) < kSilence) ++frame;
    return frame;
}

struct Latency {
    double mRendered, mPlayed;  // milliseconds, against the sink's render and play positions
};

// One capture's latency, or a failure message.
std::variant<Latency, std::string> measure(const std::string& ctl, const std::string& sink) {
    capture_test::ChirpPlayer chirp(sink);
    if (!chirp.started()) return "the chirp could not play into " + (sink.empty() ? "the default output" : sink);
    std::this_thread::sleep_for(kSettle);
    const capture_test::ChirpPlayer::Positions atCommand = chirp.positionsNow();
    const auto invoked = Clock::now();
    if (run({ctl, "start"}) != 0) return std::string("trovarioctl start failed");
    std::this_thread::sleep_until(invoked + kCapture);
    if (run({ctl, "stop", "--wait"}) != 0) return std::string("trovarioctl stop --wait failed");
    if (chirp.underflows() > 0) return std::string("the chirp ran dry: the machine is too loaded to judge");
    const std::vector<float> recording = decoded(platform::scratchRecordingPath());
    const size_t sound = firstSound(recording);
    const int64_t placed = capture_test::locateInChirp(chirp.played(), recording, sound);
    if (placed < 0) return "the recording's first sound (at frame " + std::to_string(sound) + ") is not the chirp";
    const auto milliseconds = [](int64_t frames) { return static_cast<double>(frames) * 1000.0 / capture_test::ChirpPlayer::kRate; };
    return Latency{milliseconds(placed - atCommand.mRendered), milliseconds(placed - atCommand.mPlayed)};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return (values[(values.size() - 1) / 2] + values[values.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        fprintf(stderr, "usage: trov_start_latency TROVARIOCTL [RUNS] [SINK]\n");
        return kExitUsage;
    }
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 10;
    const std::string sink = argc > 3 ? argv[3] : "";
    std::vector<double> rendered, played;
    for (int i = 1; i <= runs; ++i) {
        auto measured = measure(argv[1], sink);
        if (auto* failure = std::get_if<std::string>(&measured)) {
            fprintf(stderr, "run %d: %s\n", i, failure->c_str());
            return kExitNotMeasured;
        }
        rendered.push_back(std::get<Latency>(measured).mRendered);
        played.push_back(std::get<Latency>(measured).mPlayed);
        printf("run %2d: first captured frame rendered %+7.1f ms, played %+7.1f ms after trovarioctl start\n", i,
               rendered.back(), played.back());
        fflush(stdout);
    }
    // Judged on the later of the two: a null sink renders ahead of what it
    // plays, and a stream moved to the capture device is rendered anew there.
    std::vector<double> later(runs);
    for (int i = 0; i < runs; ++i) later[i] = std::max(rendered[i], played[i]);
    const double worst = *std::max_element(later.begin(), later.end());
    printf("%d runs, against the sink's render position: median %+.1f ms, max %+.1f ms\n", runs, median(rendered),
           *std::max_element(rendered.begin(), rendered.end()));
    printf("%d runs, against its play position: median %+.1f ms, max %+.1f ms\n", runs, median(played),
           *std::max_element(played.begin(), played.end()));
    printf("the later of the two: median %+.1f ms, max %+.1f ms (bar: under 100 ms)\n", median(later), worst);
    return worst < 100 ? 0 : kExitBarMissed;
}
