// trovario-record: records what the system plays for a given time into a
// scratch CAF file, with an optional pause, and says what it recorded.
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "AutoCaptureClasses/MySystemCaptureRecorder.h"
#include "platform/AudioConstants.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/RegularFile.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Arguments {
    double seconds = 0;
    std::optional<double> pauseAt;
    std::optional<double> resumeAt;
    std::string out = platform::scratchRecordingPath();
    bool verbose = false;
};

// Help on standard output; after a usage error, the problem and the usage on standard error.
int usage(const char* problem) {
    FILE* out = problem ? stderr : stdout;
    if (problem) fprintf(stderr, "trovario-record: %s\n", problem);
    fprintf(out,
            "usage: trovario-record SECONDS [--pause-at S --resume-at S] [--out PATH] [--verbose]\n"
            "Records what the system plays for SECONDS into PATH (default %s).\n"
            "With --pause-at and --resume-at, the audio between those two times\n"
            "(seconds from the start) is left out of the file. --verbose also writes\n"
            "the recorder's diagnostic lines to standard error.\n",
            platform::scratchRecordingPath().c_str());
    return problem ? 2 : 0;
}

std::optional<double> seconds(const char* text) {
    char* end = nullptr;
    double value = strtod(text, &end);
    if (!end || *end || !(value >= 0) || value > 86400) return std::nullopt;
    return value;
}

std::optional<Arguments> parse(int argc, char** argv, const char*& problem) {
    Arguments args;
    if (argc < 2 || !seconds(argv[1])) return problem = "SECONDS must be a number of seconds", std::nullopt;
    args.seconds = *seconds(argv[1]);
    for (int i = 2; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--verbose" || option == "-v") {
            args.verbose = true;
            continue;
        }
        if (i + 1 >= argc) return problem = "an option lacks its value", std::nullopt;
        const char* value = argv[++i];
        if (option == "--out") {
            args.out = value;
        } else if (option == "--pause-at" || option == "--resume-at") {
            auto time = seconds(value);
            if (!time) return problem = "--pause-at and --resume-at take seconds", std::nullopt;
            (option == "--pause-at" ? args.pauseAt : args.resumeAt) = time;
        } else {
            return problem = "unknown option (see --help)", std::nullopt;
        }
    }
    if (args.pauseAt.has_value() != args.resumeAt.has_value() || (args.pauseAt && *args.pauseAt > *args.resumeAt))
        return problem = "--pause-at and --resume-at go together, the pause first", std::nullopt;
    return args;
}

// SIGINT and SIGTERM, and SIGUSR1 from the recorder when the capture ends on
// its own: blocked in every thread and taken by the schedule.
sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1);
    return set;
}

// Sleeps until `when`; false when a stop signal came first.
bool sleepUntil(Clock::time_point when) {
    const sigset_t signals = stopSignals();
    for (auto now = Clock::now(); now < when; now = Clock::now()) {
        auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(when - now).count();
        timespec timeout{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
        if (sigtimedwait(&signals, nullptr, &timeout) > 0) return false;
    }
    return true;
}

// Runs the recording's schedule until its end or a stop signal, waking only
// for the pause, the resume, the end and the signal.
void runSchedule(MySystemCaptureRecorder& recorder, const Arguments& args) {
    auto start = Clock::now();
    auto at = [&](double seconds) { return start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)); };
    recorder.record();
    std::vector<std::pair<Clock::time_point, void (MySystemCaptureRecorder::*)()>> events;
    if (args.pauseAt) {
        events.push_back({at(*args.pauseAt), &MySystemCaptureRecorder::pause});
        events.push_back({at(*args.resumeAt), &MySystemCaptureRecorder::record});
    }
    events.push_back({at(args.seconds), nullptr});
    for (const auto& [when, action] : events) {
        if (!sleepUntil(when)) return;
        if (action) (recorder.*action)();
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) return usage(nullptr);
    const char* problem = nullptr;
    auto args = parse(argc, argv, problem);
    if (!args) return usage(problem);
    platform::Log::open("trovario-record", {.mSystemLog = false, .mForeground = true, .mVerbose = args->verbose});
    // Before the capture starts, rather than after the user has played the music.
    if (platform::Status replaceable = platform::checkReplaceable(args->out); !replaceable) {
        fprintf(stderr, "trovario-record: nothing recorded: %s; choose another --out\n", replaceable.message().c_str());
        return 1;
    }
    // Before the recorder starts its threads, so that they inherit the mask.
    const sigset_t signals = stopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    auto recorder = MySystemCaptureRecorder::init();
    if (!recorder) {
        fprintf(stderr, "trovario-record: nothing recorded into %s: the capture could not start (the reason is "
                        "above).\n", args->out.c_str());
        return 1;
    }
    recorder->setAudioFilePath(args->out);
    recorder->setCaptureFailureHandler([](const std::string&) { kill(getpid(), SIGUSR1); });
    runSchedule(*recorder, *args);
    recorder->stop();
    const platform::Status recorded = recorder->recordingStatus();
    const int64_t frames = recorder->numberOfFramesRecorded();
    printf("frames recorded: %lld (%.3f s)\nfile: %s\n", static_cast<long long>(frames),
           static_cast<double>(frames) / platform::kCaptureSampleRate, args->out.c_str());
    // The recorder's threads end right after stop; wait for them so that the
    // process does not end under them.
    std::weak_ptr<MySystemCaptureRecorder> alive = recorder;
    recorder.reset();
    for (int i = 0; i < 300 && !alive.expired(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!recorded)
        fprintf(stderr, "trovario-record: the recording in %s is incomplete: %s\n", args->out.c_str(),
                recorded.message().c_str());
    return recorded ? 0 : 1;
}
