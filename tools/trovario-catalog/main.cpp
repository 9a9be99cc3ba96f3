// trovario-catalog: builds and queries the catalog of the user's own music
// that the agent identifies recordings against. Exit codes: 0 success, 1 a
// failure (or a file refused), 2 usage error.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "CatalogBuilder.h"
#include "CatalogPrinter.h"
#include "Identify.h"
#include "frameworks/identification/FingerprintCatalog.h"
#include "platform/Log.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The command line once the options every command takes are out of it.
struct Invocation {
    std::string mCommand;
    std::vector<std::string> mArguments;
    std::map<std::string, std::optional<std::string>> mOptions;  // the command's own, with their values
    std::string mCatalogPath = FingerprintCatalog::defaultPath();
    bool mHelp = false;
};

struct Command {
    const char* mSynopsis;
    const char* mHelp;
    std::function<int(const Invocation&)> mRun;
};

int usageError(const std::string& command, const std::string& problem) {
    const std::string name = command.empty() ? "trovario-catalog" : "trovario-catalog " + command;
    fprintf(stderr, "%s: %s\nSee `%s --help`.\n", name.c_str(), problem.c_str(), name.c_str());
    return kExitUsage;
}

int failure(const std::string& command, const std::string& message) {
    fprintf(stderr, "trovario-catalog %s: %s\n", command.c_str(), message.c_str());
    return kExitFailure;
}

// Runs `use` on the catalog, or says why it cannot be opened.
int withCatalog(const Invocation& call, FingerprintCatalog::Access access,
                const std::function<int(FingerprintCatalog&)>& use) {
    auto catalog = FingerprintCatalog::open(call.mCatalogPath, access);
    if (!catalog) return failure(call.mCommand, catalog.message());
    return use(**catalog);
}

// Whether the command's options are only those allowed; a usage error otherwise.
std::optional<int> checkOptions(const Invocation& call, const std::vector<std::string>& allowed) {
    for (const auto& [option, value] : call.mOptions)
        if (std::find(allowed.begin(), allowed.end(), option) == allowed.end())
            return usageError(call.mCommand, "unknown option " + option);
    return std::nullopt;
}

bool hasOption(const Invocation& call, const char* option) {
    return call.mOptions.contains(option);
}

int add(const Invocation& call) {
    if (auto wrong = checkOptions(call, {})) return *wrong;
    if (call.mArguments.empty()) return usageError("add", "expected at least one PATH");
    return withCatalog(call, FingerprintCatalog::Access::kReadWrite, [&](FingerprintCatalog& catalog) {
        const AddSummary summary = addToCatalog(catalog, call.mArguments, stderr);
        fputs(summaryLines(summary).c_str(), stdout);
        if (summary.mRefused.empty()) return kExitSuccess;
        return failure("add", std::to_string(summary.mRefused.size()) + " refused (see above)");
    });
}

int remove(const Invocation& call) {
    if (auto wrong = checkOptions(call, {})) return *wrong;
    if (call.mArguments.empty()) return usageError("remove", "expected at least one PATH");
    return withCatalog(call, FingerprintCatalog::Access::kReadWrite, [&](FingerprintCatalog& catalog) {
        int status = kExitSuccess;
        for (const std::string& path : call.mArguments) {
            std::error_code ignored;
            const std::string absolute = std::filesystem::absolute(path, ignored).lexically_normal().string();
            auto removed = catalog.remove(absolute);
            if (!removed) status = failure("remove", removed.message());
            else if (*removed == 0) status = failure("remove", absolute + " is not in the catalog");
            else printf("removed %lld: %s\n", static_cast<long long>(*removed), absolute.c_str());
        }
        return status;
    });
}

int prune(const Invocation& call) {
    if (auto wrong = checkOptions(call, {})) return *wrong;
    if (!call.mArguments.empty()) return usageError("prune", "unexpected argument " + call.mArguments[0]);
    return withCatalog(call, FingerprintCatalog::Access::kReadWrite, [&](FingerprintCatalog& catalog) {
        auto gone = catalog.prune();
        if (!gone) return failure("prune", gone.message());
        for (const std::string& path : *gone) printf("pruned: %s\n", path.c_str());
        printf("pruned %zu\n", gone->size());
        return kExitSuccess;
    });
}

int list(const Invocation& call) {
    if (auto wrong = checkOptions(call, {"--json"})) return *wrong;
    if (!call.mArguments.empty()) return usageError("list", "unexpected argument " + call.mArguments[0]);
    return withCatalog(call, FingerprintCatalog::Access::kReadOnly, [&](FingerprintCatalog& catalog) {
        auto entries = catalog.list();
        if (!entries) return failure("list", entries.message());
        fputs((hasOption(call, "--json") ? entryJson(*entries) : entryLines(*entries)).c_str(), stdout);
        return kExitSuccess;
    });
}

int stats(const Invocation& call) {
    if (auto wrong = checkOptions(call, {})) return *wrong;
    if (!call.mArguments.empty()) return usageError("stats", "unexpected argument " + call.mArguments[0]);
    return withCatalog(call, FingerprintCatalog::Access::kReadOnly, [&](FingerprintCatalog& catalog) {
        auto numbers = catalog.stats();
        if (!numbers) return failure("stats", numbers.message());
        fputs(statsLines(*numbers).c_str(), stdout);
        return kExitSuccess;
    });
}

std::optional<double> parseSeconds(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) || value < 0) return std::nullopt;
    return value;
}

int identify(const Invocation& call) {
    if (auto wrong = checkOptions(call, {"--json", "--start"})) return *wrong;
    if (call.mArguments.size() != 1) return usageError("identify", "expected one FILE");
    double start = 0;
    if (auto given = call.mOptions.find("--start"); given != call.mOptions.end()) {
        std::optional<double> seconds = given->second ? parseSeconds(*given->second) : std::nullopt;
        if (!seconds) return usageError("identify", "--start needs a number of seconds of 0 or more");
        start = *seconds;
    }
    // The service takes a missing catalog for one without a match; say so instead.
    if (auto catalog = FingerprintCatalog::open(call.mCatalogPath, FingerprintCatalog::Access::kReadOnly); !catalog)
        return failure("identify", catalog.message());
    auto service = createService(call.mCatalogPath);
    auto matches = identifyFile(*service, call.mArguments[0], start);
    if (!matches) return failure("identify", matches.message());
    fputs((hasOption(call, "--json") ? matchJson(call.mArguments[0], start, *matches) : matchLines(*matches)).c_str(),
          stdout);
    return kExitSuccess;
}

const std::map<std::string, Command>& commands() {
    static const std::map<std::string, Command> table = {
        {"add", {"add PATH...",
                 "Catalogues audio files, and the audio files in folders and their subfolders\n"
                 "(picked by their names: .mp3, .m4a, .flac, .ogg, .opus, .wav, .aiff, .caf...).\n"
                 "Files unchanged since they were catalogued are skipped. Ends with what was\n"
                 "added, skipped and refused, and why; any refusal makes the exit code 1.", add}},
        {"remove", {"remove PATH...", "Takes files, or every file under folders, out of the catalog.", remove}},
        {"prune", {"prune", "Takes the files that no longer exist out of the catalog.", prune}},
        {"list", {"list [--json]", "Shows every catalogued file with its duration and tags.", list}},
        {"stats", {"stats", "Shows how many tracks the catalog holds, their duration and its size on disk.", stats}},
        {"identify", {"identify FILE [--start SECONDS] [--json]",
                      "Feeds FILE from SECONDS on (default 0) to the agent's identification service\n"
                      "and shows its matches, best first.", identify}},
    };
    return table;
}

void printOverview(FILE* out) {
    fprintf(out, "usage: trovario-catalog [--catalog PATH] COMMAND [ARGUMENTS]\n\n"
                 "Builds the catalog of your own music that the Trovario agent identifies recordings\n"
                 "against. --catalog uses another database than %s.\n\n",
            FingerprintCatalog::defaultPath().c_str());
    for (const auto& [name, command] : commands()) fprintf(out, "  %s\n", command.mSynopsis);
    fprintf(out, "\n`trovario-catalog COMMAND --help` explains a command.\n"
                 "Exit codes: 0 success, 1 failure or a file refused, 2 usage error.\n");
}

// nullopt with `problem` set when the command line is wrong.
std::optional<Invocation> parse(int argc, char** argv, std::string& problem) {
    Invocation call;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            (call.mCommand.empty() ? call.mCommand : call.mArguments.emplace_back()) = argument;
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help" || argument == "-h") {
            call.mHelp = true;
        } else if (argument == "--catalog" || argument.rfind("--catalog=", 0) == 0) {
            if (argument == "--catalog" && i + 1 == argc) {
                problem = "--catalog needs a PATH";
                return std::nullopt;
            }
            call.mCatalogPath = argument == "--catalog" ? argv[++i] : argument.substr(10);
        } else if (argument == "--start") {
            call.mOptions[argument] = i + 1 < argc ? std::optional<std::string>(argv[++i]) : std::nullopt;
        } else {
            call.mOptions[argument];
        }
    }
    return call;
}

}  // namespace

int main(int argc, char** argv) {
    platform::Log::open("trovario-catalog", {.mSystemLog = false, .mForeground = true, .mVerbose = false});
    std::string problem;
    std::optional<Invocation> call = parse(argc, argv, problem);
    if (!call) return usageError("", problem);
    if (call->mCommand.empty() || call->mCommand == "help") {
        const bool asked = call->mHelp || call->mCommand == "help";
        if (!asked && !call->mOptions.empty())
            return usageError("", "unknown option " + call->mOptions.begin()->first);
        printOverview(asked ? stdout : stderr);
        return asked ? kExitSuccess : kExitUsage;
    }
    auto found = commands().find(call->mCommand);
    if (found == commands().end()) return usageError("", "unknown command " + call->mCommand);
    if (call->mHelp) {
        printf("usage: trovario-catalog [--catalog PATH] %s\n\n%s\n", found->second.mSynopsis, found->second.mHelp);
        return kExitSuccess;
    }
    return found->second.mRun(*call);
}
