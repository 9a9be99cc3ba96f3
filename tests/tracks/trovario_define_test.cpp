// The trovario-define command on generated recordings.

#include <gtest/gtest.h>

#include "DefinerTestFiles.h"
#include "platform/PropertyList.h"

using namespace audiotest;
using namespace definertest;

namespace {

// Standard output and error of the command, and its exit code in `exitCode`. Without an environment,
// preferences come from an empty folder: only the registered defaults count.
std::string define(const std::string& arguments, int* exitCode = nullptr,
                   const std::string& environment = "XDG_CONFIG_HOME=/nonexistent") {
    return run(environment + " '" TROVARIO_DEFINE "' " + arguments + " 2>&1", exitCode);
}

}  // namespace

// Three pieces of 20, 15 and 10 seconds with two seconds of digital silence
// between them; the preferences give the silence length unless an option does.
TEST(TrovarioDefine, CutsAMixtapeInTheMiddleOfEachSilenceAsThePreferencesOrOptionsSay) {
    TemporaryDirectory dir;
    const uint32_t second = 44100;
    const std::string file = dir / "mixtape.caf";
    ASSERT_EQ(writeCaf(file, recording(49 * second, {{20 * second, 22 * second}, {37 * second, 39 * second}})), 0);
    const std::string path = "'" + file + "'", environment = "XDG_CONFIG_HOME='" + dir.path() + "'";
    int exitCode = -1;
    EXPECT_EQ(define(path, &exitCode, environment),
              "  1  0:00.00  0:21.00  0:21.00\n"
              "  2  0:21.00  0:38.00  0:17.00\n"
              "  3  0:38.00  0:49.00  0:11.00\n");
    EXPECT_EQ(exitCode, 0);
    const std::string json = define("--json --sensitivity 0.03 --silence-ms=1000 " + path, &exitCode, environment);
    EXPECT_EQ(exitCode, 0);
    EXPECT_NE(json.find("\"silenceMs\": 1000"), std::string::npos);
    EXPECT_NE(json.find("{\"number\": 2, \"startFrame\": 926100, \"stopFrame\": 1675800, \"start\": \"0:21.00\", "
                        "\"stop\": \"0:38.00\", \"duration\": \"0:17.00\"}"),
              std::string::npos);
    EXPECT_EQ(define("--silence-ms 2500 " + path), "  1  0:00.00  0:49.00  0:49.00\n");

    platform::PropertyList preferences = platform::PropertyList::dictionary();
    preferences.set("ZORAutoDefineMinSilenceLengthKey", platform::PropertyList::real(2500));
    TemporaryDirectory::write(dir / "trovario/org.trovario.TrovarioAgent.plist", preferences.toXml());
    EXPECT_EQ(define(path, nullptr, environment), "  1  0:00.00  0:49.00  0:49.00\n");
}

TEST(TrovarioDefine, UnreadableEmptyOrMissingFilesFailClearly) {
    TemporaryDirectory dir;
    const std::string empty = dir / "empty.caf", text = dir / "notes.wav";
    ASSERT_EQ(writeCaf(empty, {}), 0);
    TemporaryDirectory::write(text, "not audio");
    for (const auto& [path, message] : std::vector<std::pair<std::string, std::string>>{
             {dir / "missing.caf", "missing.caf: No such file or directory"},
             {empty, "empty.caf holds no audio frames"}, {text, "not an audio file"}}) {
        int exitCode = -1;
        const std::string output = define("'" + path + "'", &exitCode);
        EXPECT_EQ(exitCode, 1) << path;
        EXPECT_NE(output.find(message), std::string::npos) << output;
    }
    for (const char* usage : {"--sensitivity -1 x.caf", "--frobnicate x.caf", ""}) {
        int exitCode = -1;
        define(usage, &exitCode);
        EXPECT_EQ(exitCode, 2) << usage;
    }
}
