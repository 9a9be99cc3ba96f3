// trovario-record as users run it: a process on a private sound server.
#include <gtest/gtest.h>

#include <string>

#include "AudioTestSupport.h"
#include "CaptureTestSupport.h"

namespace {

// The tool's standard output and error; `code` its exit status. `prefix` goes before the command.
std::string runTool(const std::string& arguments, int& code, const std::string& prefix = "") {
    return commandOutput(prefix + "'" TROVARIO_RECORD "' " + arguments + " 2>&1", &code);
}

}  // namespace

TEST(TrovarioRecordTool, AnInterruptKeepsTheFileAMissingCaptureDeviceIsExplainedAndBadArgumentsAreRefused) {
    capture_test::ScratchHome home;
    PrivatePulseServer server;
    ASSERT_TRUE(server.started()) << server.failure();
    const std::string out = home.path() + "/capture.caf";
    int code = -1;
    // SIGINT three seconds into ten minutes; SIGKILL (a non-zero status) if it has not ended five seconds later.
    std::string log = runTool("600 --out '" + out + "'", code, "timeout --preserve-status -k 5 -s INT 3 ");
    EXPECT_EQ(code, 0) << log;
    EXPECT_NE(log.find("file: " + out), std::string::npos) << log;
    EXPECT_EQ(server.defaultSinkName(), "speakers");
    EXPECT_GT(audiotest::readAll(out).size(), 0u);

    ASSERT_TRUE(server.unloadCaptureSink());
    log = runTool("1 --out '" + out + "'", code);
    EXPECT_EQ(code, 1);
    EXPECT_NE(log.find("trovarioctl install-capture-device"), std::string::npos) << log;
    for (std::string arguments : {"", "ten", "-1", "5 --pause-at 2", "5 --pause-at 3 --resume-at 2", "5 --out",
                                  "5 --loud yes"}) {
        runTool(arguments, code);
        EXPECT_EQ(code, 2) << "arguments: " << arguments;
    }
}
