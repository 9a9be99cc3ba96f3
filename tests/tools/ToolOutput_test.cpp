// The tools as users run them: help on standard output, failures that name
// what failed, and the library's diagnostic lines only with --verbose.
#include "CommandOutput.h"
#include "TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <tuple>

namespace {

struct Outcome {
    int exitCode = -1;
    std::string out, err;
};

class ToolOutput : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(chmod(dir.path().c_str(), 0700), 0); }

    // A shell command with private runtime and configuration folders and no sound server.
    Outcome run(const std::string& command) {
        const std::string environment = "export XDG_RUNTIME_DIR='" + dir.path() + "' XDG_CONFIG_HOME='" + dir.path() +
                                        "' PULSE_SERVER=unix:/nonexistent; ";
        Outcome outcome;
        outcome.out = commandOutput(environment + "{ " + command + "; } 2>'" + dir / "err" + "'", &outcome.exitCode);
        outcome.err = TemporaryDirectory::read(dir / "err");
        return outcome;
    }

    TemporaryDirectory dir;
};

// Help goes to standard output; a wrong option is refused with a reason.
TEST_F(ToolOutput, HelpGoesToStandardOutputAndUnknownOptionsAreRefused) {
    for (const std::string tool : {TROV_AGENT, TROV_CTL, TROV_DEFINE, TROV_RECORD, TROV_CATALOG}) {
        Outcome help = run(tool + " --help"), wrong = run(tool + " --bogus");
        // Exit codes, where the usage starts, and whether each went to standard error.
        EXPECT_EQ(std::make_tuple(help.exitCode, help.out.rfind("usage: ", 0), help.err.empty(), wrong.exitCode,
                                  wrong.err.empty()),
                  std::make_tuple(0, 0u, true, 2, false)) << tool;
    }
}

TEST_F(ToolOutput, FailuresNameWhatFailedAndDiagnosticsNeedVerbose) {
    // Stands in for a stuck agent: its port takes connections and never answers.
    const int stuck = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    (dir / "org.trovario.TrovarioAgent").copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(bind(stuck, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(stuck, 4), 0);
    const std::string missing = dir / "missing.caf", take = dir / "take.caf";
    // Each command quiet and with --verbose, and what its failure must name.
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {TROV_DEFINE " " + missing, TROV_DEFINE " --verbose " + missing, missing},
        {TROV_RECORD " 1 --out " + take, TROV_RECORD " 1 --verbose --out " + take, take},
        {TROV_CTL " status", TROV_CTL " --verbose status", "trovarioctl status: "}};
    for (const auto& [command, verboseCommand, named] : cases) {
        Outcome quiet = run(command), verbose = run(verboseCommand);
        EXPECT_EQ(quiet.exitCode, 1) << command;
        EXPECT_NE(quiet.err.find(named), std::string::npos) << quiet.err;
        // The diagnostic lines come on top of the failure.
        EXPECT_GT(std::ranges::count(verbose.err, '\n'), std::ranges::count(quiet.err, '\n')) << verbose.err;
    }
    close(stuck);
}

}  // namespace
