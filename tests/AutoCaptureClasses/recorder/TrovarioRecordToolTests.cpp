// trovario-record as users run it: a process on a private sound server.
#include <gtest/gtest.h>

#include <string>

#include "AudioTestSupport.h"
#include "CaptureTestSupport.h"

namespace {

class TrovarioRecordTool : public ::testing::Test {
protected:
    // The tool's standard output and error; `code` its exit status. `prefix` goes before the command.
    std::string run(const std::string& arguments, int& code, const std::string& prefix = "") {
        return commandOutput(prefix + "'" TROVARIO_RECORD "' " + arguments + " 2>&1", &code);
    }

    capture_test::ScratchHome home;
    std::string out = home.path() + "/capture.caf";
    int code = -1;
};

}  // namespace

TEST_F(TrovarioRecordTool, AnInterruptEndsTheRecordingAtOnceAndKeepsTheFile) {
    PrivatePulseServer server;
    ASSERT_TRUE(server.started()) << server.failure();
    // SIGINT three seconds into ten minutes; SIGKILL (a non-zero status) if it has not ended five seconds later.
    std::string log = run("600 --out '" + out + "'", code, "timeout --preserve-status -k 5 -s INT 3 ");
    EXPECT_EQ(code, 0) << log;
    EXPECT_NE(log.find("file: " + out), std::string::npos) << log;
    EXPECT_EQ(server.defaultSinkName(), "speakers");
    EXPECT_GT(audiotest::readAll(out).size(), 0u);
}

TEST_F(TrovarioRecordTool, SaysHowToLoadAMissingCaptureDeviceAndRefusesArgumentsItCannotUse) {
    PrivatePulseServer server({.captureSink = false, .scriptFile = ""});
    ASSERT_TRUE(server.started()) << server.failure();
    std::string log = run("1 --out '" + out + "'", code);
    EXPECT_EQ(code, 1);
    EXPECT_NE(log.find("trovarioctl install-capture-device"), std::string::npos) << log;
    for (std::string arguments : {"", "ten", "-1", "5 --pause-at 2", "5 --pause-at 3 --resume-at 2", "5 --out",
                                  "5 --loud yes"}) {
        run(arguments, code);
        EXPECT_EQ(code, 2) << "arguments: " << arguments;
    }
}
