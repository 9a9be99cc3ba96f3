// trovarioctl: talks to the Trovario agent over its message port, as the
// editor does. Exit codes: 0 success, 1 the agent answered with a failure
// (or did not answer), 2 usage error, 3 the agent is not running.

#include "AgentClient.h"
#include "Arguments.h"
#include "AutoCaptureClasses/CaptureDeviceInstaller.h"
#include "agent/TROVDMessages.h"
#include "platform/Clock.h"
#include "platform/Log.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using Arguments = std::vector<std::string>;

struct Command {
    const char* synopsis;
    const char* help;
    std::function<int(const Arguments&)> run;
};

int usageError(const std::string& command, const std::string& problem) {
    fprintf(stderr, "trovarioctl %s: %s\nSee `trovarioctl %s --help`.\n", command.c_str(), problem.c_str(),
            command.c_str());
    return kExitUsage;
}

// Sends a request built by `fill` and hands the reply to `show`.
int sendCommand(const std::string& command, int32_t code, const std::function<void(TROVMessage&)>& fill = {},
                const std::function<void(const TROVMessage&)>& show = {}) {
    std::optional<AgentClient> agent = AgentClient::connect(command);
    if (!agent) return kExitNotRunning;
    auto request = agent->request(code);
    if (fill) fill(*request);
    std::shared_ptr<TROVMessage> reply;
    const int result = agent->send(*request, &reply);
    if (result == kExitSuccess && show) show(*reply);
    return result;
}

std::string clockText(double seconds) {
    const long long whole = static_cast<long long>(std::max(0.0, std::floor(seconds)));
    char text[32];
    snprintf(text, sizeof text, "%02lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    return text;
}

// Before any capture the agent reports the whole clock time since its
// reference date; a capture cannot have started that long ago.
bool capturedSinceStart(float stime) { return stime < platform::absoluteTime() - 1000.0; }

void showStatus(const TROVMessage& reply, bool json) {
    int32_t state = 0, current = 0, total = 0;
    float stime = 0;
    reply.getValueSInt32(kTROVDStateKey, state);
    reply.getValueFloat32(kTROVDStartTimeKey, stime);
    const bool processing = reply.getValueSInt32(kTROVDCurrentTrackKey, current) &&
                            reply.getValueSInt32(kTROVDTotalTracksKey, total);
    const bool captured = capturedSinceStart(stime);
    if (json) {
        const std::string since = captured ? std::string(1, '"').append(clockText(stime)).append(1, '"') : "null";
        printf("{\"state\": %d, \"state_name\": \"%s\", \"stime\": %.3f, \"since_capture_start\": %s", state,
               agentStateName(state).c_str(), stime, since.c_str());
        if (processing) printf(", \"current_track\": %d, \"total_tracks\": %d", current, total);
        printf("}\n");
        return;
    }
    printf("state: %s\n", agentStateName(state).c_str());
    if (captured) {
        printf("since capture start: %s\n", clockText(stime).c_str());
    } else {
        printf("since capture start: no capture since the agent started\n");
    }
    if (processing) printf("processing: track %d of %d\n", current + 1, total);
}

int status(const Arguments& args) {
    if (args.size() > 1 || (args.size() == 1 && args[0] != "--json"))
        return usageError("status", "unexpected argument " + args.back());
    const bool json = args.size() == 1;
    return sendCommand("status", kTROVDMessage_RequestTelemetry, {},
                       [json](const TROVMessage& reply) { showStatus(reply, json); });
}

int noArguments(const char* name, const Arguments& args, int32_t code) {
    if (!args.empty()) return usageError(name, "unexpected argument " + args[0]);
    return sendCommand(name, code);
}

platform::Result<std::string> readableFile(const std::string& given) {
    std::error_code error;
    const std::string path = std::filesystem::absolute(given, error).lexically_normal().string();
    if (error || !std::filesystem::exists(path, error))
        return platform::Status::failure("cannot read " + given + ": no such file");
    if (!std::filesystem::is_regular_file(path, error))
        return platform::Status::failure("cannot read " + given + ": not a regular file");
    if (access(path.c_str(), R_OK) != 0 || !std::ifstream(path))
        return platform::Status::failure("cannot read " + given + ": permission denied");
    return path;
}

int process(const Arguments& args) {
    if (args.size() != 1) return usageError("process", "expected one FILE");
    platform::Result<std::string> path = readableFile(args[0]);
    if (!path) return usageError("process", path.message());
    return sendCommand("process", kTROVDMessage_ProcessFile,
                       [&](TROVMessage& request) { request.setValueWithNSString(kTROVDPathKey, *path); });
}

int silence(const Arguments& args) {
    std::optional<float> threshold, length;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if ((option != "--threshold" && option != "--length") || i + 1 == args.size())
            return usageError("silence", option == "--threshold" || option == "--length"
                                             ? option + " needs a value" : "unexpected argument " + option);
        std::optional<float> value = parseFiniteFloat(args[++i]);
        if (!value || *value < 0) return usageError("silence", option + " takes a number of 0 or more, not " + args[i]);
        (option == "--threshold" ? threshold : length) = value;
    }
    if (!threshold && !length) return usageError("silence", "give --threshold, --length or both");
    return sendCommand("silence", kTROVDMessage_SetSilenceParameters, [&](TROVMessage& request) {
        if (threshold) request.setValueWithFloat32(kTROVDSilenceThresholdKey, *threshold);
        if (length) request.setValueWithFloat32(kTROVDLengthOfSilenceKey, *length);
    });
}

int timeLimit(const Arguments& args) {
    if (args.size() != 1) return usageError("time-limit", "expected one MINUTES");
    std::optional<int32_t> minutes = parseInt32(args[0]);
    if (!minutes) return usageError("time-limit", "MINUTES must be a whole number, not " + args[0]);
    return sendCommand("time-limit", kTROVDMessage_SetRecordingTimeLimit,
                       [&](TROVMessage& request) { request.setValueWithSInt32(kTROVDTimeoutKey, *minutes); });
}

int menu(const Arguments& args) {
    if (args.size() != 1 || (args[0] != "show" && args[0] != "hide")) return usageError("menu", "expected show or hide");
    const bool visible = args[0] == "show";
    return sendCommand("menu", kTROVDMessage_SetMenuVisible,
                       [&](TROVMessage& request) { request.setValueWithBoolean(kTROVDVisibleKey, visible); });
}

int quit(const Arguments& args) {
    if (!args.empty()) return usageError("quit", "unexpected argument " + args[0]);
    std::optional<AgentClient> agent = AgentClient::connect("quit");
    return agent ? agent->quit() : kExitNotRunning;
}

void showReply(const TROVMessage& reply) {
    const platform::PropertyList& values = reply.messageDictionary();
    if (values.size() == 0) printf("(empty reply)\n");
    for (const std::string& key : values.keys()) printf("%s = %s\n", key.c_str(), describeValue(*values.get(key)).c_str());
}

int send(const Arguments& args) {
    if (args.empty()) return usageError("send", "expected a CODE");
    std::optional<int32_t> code = parseCommandCode(args[0]);
    if (!code) return usageError("send", "CODE must be four characters such as rTlm, or a number, not " + args[0]);
    std::vector<TypedValue> values;
    for (size_t i = 1; i < args.size(); ++i) {
        platform::Result<TypedValue> value = parseTypedValue(args[i]);
        if (!value) return usageError("send", value.message());
        values.push_back(std::move(*value));
    }
    auto fill = [&](TROVMessage& request) {
        for (const TypedValue& value : values) request.setValueWithCFType(value.key, value.value);
    };
    return sendCommand("send", *code, fill, showReply);
}

int installCaptureDevice(const Arguments& args) {
    if (args.size() > 1 || (args.size() == 1 && args[0] != "--persist"))
        return usageError("install-capture-device", "unexpected argument " + args.back());
    const platform::Result<std::string> installed = CaptureDeviceInstaller::installCaptureDevice(!args.empty());
    if (!installed) {
        fprintf(stderr, "%s\n", installed.message().c_str());
        return kExitAgentFailed;
    }
    printf("%s\n", installed->c_str());
    return kExitSuccess;
}

const std::map<std::string, Command>& commands() {
    static const std::map<std::string, Command> table = {
        {"status", {"status [--json]",
                    "Shows the agent's state (idle, capturing, processing), the time since the\n"
                    "current or last capture started (HH:MM:SS) and, while processing, which\n"
                    "track of how many. --json prints the same as one JSON object.", status}},
        {"start", {"start", "Starts a capture of what the computer plays.",
                   [](const Arguments& a) { return noArguments("start", a, kTROVDMessage_StartSystemCapture); }}},
        {"stop", {"stop", "Stops the capture and starts cutting it into tracks.",
                  [](const Arguments& a) { return noArguments("stop", a, kTROVDMessage_StopSystemCapture); }}},
        {"process", {"process FILE",
                     "Hands an existing audio file to the agent to cut into tracks. FILE is made\n"
                     "absolute; a missing or unreadable file is refused before anything is sent.", process}},
        {"silence", {"silence [--threshold X] [--length SECONDS]",
                     "Sets the silence threshold (linear amplitude, 0 or more) and the shortest\n"
                     "silence in seconds for this run of the agent. Give one or both.", silence}},
        {"time-limit", {"time-limit MINUTES",
                        "Limits the length of captures to MINUTES for this run of the agent; 0 or\n"
                        "less gives the limit back to the preferences.", timeLimit}},
        {"menu", {"menu show|hide", "Shows or hides the agent's status menu.", menu}},
        {"quit", {"quit", "Ends the agent. It quits only when idle, not during a capture or processing.", quit}},
        {"send", {"send CODE [key=type:value ...]",
                  "Sends a raw request: CODE is four characters such as rTlm (or a number,\n"
                  "decimal or 0x hex), each key=type:value adds a value of type int, float,\n"
                  "bool or string. Prints every key of the reply.", send}},
        {"install-capture-device", {"install-capture-device [--persist]",
                                    "Loads the capture device \"Trovario Capture Support\" into the running sound\n"
                                    "server. --persist also configures the server to load it at every start.",
                                    installCaptureDevice}},
    };
    return table;
}

void printOverview(FILE* out) {
    fprintf(out, "usage: trovarioctl [--verbose] COMMAND [ARGUMENTS]\n\nTalks to the Trovario agent (trovario-agent).\n"
                 "--verbose also writes the diagnostic lines of the message exchange to standard error.\n\n");
    for (const auto& [name, command] : commands()) fprintf(out, "  %s\n", command.synopsis);
    fprintf(out, "\n`trovarioctl COMMAND --help` explains a command.\n"
                 "Exit codes: 0 success, 1 the agent answered with a failure or did not answer,\n"
                 "2 usage error, 3 the agent is not running.\n");
}

bool asksForHelp(const Arguments& args) {
    for (const std::string& arg : args)
        if (arg == "--help" || arg == "-h") return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    const bool verbose = argc > 1 && (std::string(argv[1]) == "--verbose" || std::string(argv[1]) == "-v");
    platform::Log::open("trovarioctl", {.mSystemLog = false, .mForeground = true, .mVerbose = verbose});
    if (verbose) --argc, ++argv;  // argv[0] is not used
    if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h" || std::string(argv[1]) == "help") {
        printOverview(argc < 2 ? stderr : stdout);
        return argc < 2 ? kExitUsage : kExitSuccess;
    }
    auto found = commands().find(argv[1]);
    if (found == commands().end()) {
        fprintf(stderr, "trovarioctl: unknown command %s\n\n", argv[1]);
        printOverview(stderr);
        return kExitUsage;
    }
    const Arguments args(argv + 2, argv + argc);
    if (asksForHelp(args)) {
        printf("usage: trovarioctl %s\n\n%s\n", found->second.synopsis, found->second.help);
        return kExitSuccess;
    }
    return found->second.run(args);
}
