// trovarioctl: talks to the Trovario agent over its message port, as the
// editor does. Exit codes: 0 success, 1 the agent refused or failed the
// command, a run it followed failed, or the agent did not answer; 2 usage
// error or a file that cannot be processed; 3 the agent is not running or
// went away.

#include "AgentClient.h"
#include "Arguments.h"
#include "AudioFileCheck.h"
#include "ReportPrinter.h"
#include "RunWatcher.h"
#include "AutoCaptureClasses/CaptureDeviceInstaller.h"
#include "agent/TROVDMessages.h"
#include "platform/Log.h"

#include <cstdio>
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

using Fill = std::function<void(TROVMessage&)>;

// Sends a request built by `fill` and hands the reply to `show`; a refusal
// by the agent fails the command.
int sendCommand(const std::string& command, int32_t code, const Fill& fill = {},
                const std::function<int(const AgentClient&, const TROVMessage&)>& show = {}) {
    std::optional<AgentClient> agent = AgentClient::connect(command);
    if (!agent) return kExitNotRunning;
    auto request = agent->request(code);
    if (fill) fill(*request);
    std::shared_ptr<TROVMessage> reply;
    const int result = agent->sendCommand(*request, &reply);
    return result == kExitSuccess && show ? show(*agent, *reply) : result;
}

int status(const Arguments& args) {
    if (args.size() > 1 || (args.size() == 1 && args[0] != "--json"))
        return usageError("status", "unexpected argument " + args.back());
    std::optional<AgentClient> agent = AgentClient::connect("status");
    if (!agent) return kExitNotRunning;
    Telemetry telemetry;
    AgentReport report;
    if (const int result = agent->telemetry(&telemetry)) return result;
    if (const int result = agent->report(&report)) return result;
    printf("%s", (args.empty() ? statusText : statusJson)(telemetry, report).c_str());
    return kExitSuccess;
}

// Follows the processing run that the reply to 'spSC' or 'pFil' names.
int followStartedRun(const AgentClient& agent, const TROVMessage& reply, bool wait) {
    int32_t run = 0;
    if (!reply.getValueSInt32(kTROVDRunKey, run)) {
        fprintf(stderr, "trovarioctl %s: the agent did not say which processing run it started; "
                        "see `trovarioctl status`.\n", agent.command().c_str());
        return kExitAgentFailed;
    }
    const RunWatcher watcher(agent);
    return wait ? watcher.followRun(run) : watcher.waitForTracks(run);
}

// Whether the arguments after the command's own `positional` ones are a lone --wait.
std::optional<bool> waitOption(const Arguments& args, size_t positional) {
    if (args.size() == positional) return false;
    if (args.size() == positional + 1 && args.back() == "--wait") return true;
    return std::nullopt;
}

int start(const Arguments& args) {
    if (!args.empty()) return usageError("start", "unexpected argument " + args[0]);
    return sendCommand("start", kTROVDMessage_StartSystemCapture, {},
                       [](const AgentClient& agent, const TROVMessage&) { return RunWatcher(agent).waitForRecording(); });
}

int stop(const Arguments& args) {
    const std::optional<bool> wait = waitOption(args, 0);
    if (!wait) return usageError("stop", "unexpected argument " + args.back());
    return sendCommand("stop", kTROVDMessage_StopSystemCapture, {},
                       [&](const AgentClient& agent, const TROVMessage& reply) { return followStartedRun(agent, reply, *wait); });
}

int process(const Arguments& args) {
    const std::optional<bool> wait = waitOption(args, 1);
    if (!wait || args[0] == "--wait") return usageError("process", "expected one FILE, then --wait if wanted");
    platform::Result<std::string> path = checkAudioFile(args[0]);
    if (!path) return usageError("process", path.message());
    return sendCommand(
        "process", kTROVDMessage_ProcessFile,
        [&](TROVMessage& request) { request.setValueWithNSString(kTROVDPathKey, *path); },
        [&](const AgentClient& agent, const TROVMessage& reply) { return followStartedRun(agent, reply, *wait); });
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

// Entries are numbered from 1 as `menu` prints them; "open" and "capture"
// name the two that act.
std::optional<int32_t> menuEntry(const std::string& text) {
    if (text == "open") return 0;
    if (text == "capture") return 3;
    std::optional<int32_t> number = parseInt32(text);
    return number && *number >= 1 ? std::optional<int32_t>(*number - 1) : std::nullopt;
}

int printMenu(const AgentClient&, const TROVMessage& reply) {
    const std::optional<platform::PropertyList> entries = reply.messageDictionary().get(kTROVDMenuEntriesKey);
    for (size_t i = 0; entries && i < entries->size(); ++i) {
        const platform::PropertyList entry = entries->at(i);
        const auto flag = [&entry](const char* key) { return entry.contains(key) && entry.get(key)->asBool(); };
        if (flag(kTROVDMenuSeparatorKey)) {
            printf("%zu  ----\n", i + 1);
        } else {
            printf("%zu  %s%s\n", i + 1, entry.get(kTROVDMenuTitleKey)->asString().c_str(),
                   flag(kTROVDMenuEnabledKey) ? "" : "  (disabled)");
        }
    }
    return kExitSuccess;
}

int menu(const Arguments& args) {
    if (args.empty()) return sendCommand("menu", kTROVDMessage_RequestMenu, {}, printMenu);
    if (args[0] == "click") {
        const std::optional<int32_t> entry = args.size() == 2 ? menuEntry(args[1]) : std::nullopt;
        if (!entry) return usageError("menu", "click takes one ENTRY: its number as `trovarioctl menu` shows it, open or capture");
        return sendCommand("menu", kTROVDMessage_ClickMenu,
                           [&](TROVMessage& request) { request.setValueWithSInt32(kTROVDMenuEntryKey, *entry); });
    }
    if (args.size() != 1 || (args[0] != "show" && args[0] != "hide"))
        return usageError("menu", "expected show, hide, click ENTRY or nothing");
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
    std::optional<AgentClient> agent = AgentClient::connect("send");
    if (!agent) return kExitNotRunning;
    auto request = agent->request(*code);
    for (const TypedValue& value : values) request->setValueWithCFType(value.key, value.value);
    std::shared_ptr<TROVMessage> reply;  // shown whole, "error" included
    const int result = agent->send(*request, &reply);
    if (result == kExitSuccess) showReply(*reply);
    return result;
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
                    "Shows the agent's state (idle, capturing, processing), how long the running\n"
                    "capture has been recording (HH:MM:SS), which track of how many is being\n"
                    "processed, the silence threshold and length, time limit and minimum track\n"
                    "duration in effect, and the last processing run: its number, the tracks it\n"
                    "found and delivered, and its error if any. --json prints the same as one\n"
                    "JSON object.", status}},
        {"start", {"start",
                   "Starts a capture of what the computer plays and waits (up to 10 s) until it\n"
                   "records; then says when it stops by itself (the time limit). Fails with the\n"
                   "agent's reason when the capture cannot start.", start}},
        {"stop", {"stop [--wait]",
                  "Stops the capture and starts cutting it into tracks; says how many tracks\n"
                  "were found while processing goes on. --wait shows the progress until the\n"
                  "run ends, then lists each track and where it was delivered; it fails when\n"
                  "the run failed or a track was not delivered.", stop}},
        {"process", {"process FILE [--wait]",
                     "Hands an existing audio file to the agent to cut into tracks, then goes on\n"
                     "as `stop` does (with --wait, to the end of the run). FILE is made absolute;\n"
                     "a file that is missing, unreadable or not audio is refused before anything\n"
                     "is sent.", process}},
        {"silence", {"silence [--threshold X] [--length SECONDS]",
                     "Sets the silence threshold (linear amplitude, 0 or more) and the shortest\n"
                     "silence in seconds for this run of the agent. Give one or both.", silence}},
        {"time-limit", {"time-limit MINUTES",
                        "Limits the length of captures to MINUTES for this run of the agent; 0 or\n"
                        "less gives the limit back to the preferences.", timeLimit}},
        {"menu", {"menu [show|hide|click ENTRY]",
                  "Without arguments, prints the agent's status menu: its entries numbered\n"
                  "from 1, with those that cannot be chosen now marked (disabled). show and\n"
                  "hide show it in the desktop's tray or take it away (the agent keeps the\n"
                  "menu while shown, also without a tray); click ENTRY chooses an entry, by\n"
                  "its number or as open or capture (start or stop a capture).", menu}},
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
                 "Exit codes: 0 success, 1 the agent refused or failed the command, a run it\n"
                 "followed failed, or the agent did not answer; 2 usage error or a FILE that\n"
                 "cannot be processed; 3 the agent is not running or went away.\n");
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
