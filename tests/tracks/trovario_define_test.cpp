// The trovario-define command on generated recordings.

#include <gtest/gtest.h>

#include "DefinerTestFiles.h"
#include "platform/PropertyList.h"

using namespace audiotest;
using namespace definertest;

namespace {

struct Result {
    int exitCode;
    std::string output;
};

// Without an environment, preferences come from an empty folder: only the registered defaults count.
Result define(const std::string& arguments, const std::string& environment = "XDG_CONFIG_HOME=/nonexistent") {
    Result result{-1, {}};
    result.output = run(environment + " '" TROVARIO_DEFINE "' " + arguments + " 2>&1", &result.exitCode);
    return result;
}

// Three pieces of 20, 15 and 10 seconds with two seconds of digital silence between them.
std::string mixtape(const TemporaryDirectory& dir) {
    const uint32_t second = 44100;
    std::string path = dir / "mixtape.caf";
    EXPECT_EQ(writeCaf(path, recording(49 * second, {{20 * second, 22 * second}, {37 * second, 39 * second}})), 0);
    return path;
}

}  // namespace

// The preferences give the silence length unless an option does.
TEST(TrovarioDefine, CutsAMixtapeInTheMiddleOfEachSilenceAsThePreferencesOrOptionsSay) {
    TemporaryDirectory dir;
    const std::string path = "'" + mixtape(dir) + "'", environment = "XDG_CONFIG_HOME='" + dir.path() + "'";
    Result result = define(path, environment);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output,
              "  1  0:00.00  0:21.00  0:21.00\n"
              "  2  0:21.00  0:38.00  0:17.00\n"
              "  3  0:38.00  0:49.00  0:11.00\n");
    Result json = define("--json --sensitivity 0.03 --silence-ms=1000 " + path, environment);
    EXPECT_EQ(json.exitCode, 0);
    EXPECT_NE(json.output.find("\"silenceMs\": 1000"), std::string::npos);
    EXPECT_NE(json.output.find("{\"number\": 2, \"startFrame\": 926100, \"stopFrame\": 1675800, \"start\": \"0:21.00\", "
                               "\"stop\": \"0:38.00\", \"duration\": \"0:17.00\"}"),
              std::string::npos);
    EXPECT_EQ(define("--silence-ms 2500 " + path).output, "  1  0:00.00  0:49.00  0:49.00\n");

    platform::PropertyList preferences = platform::PropertyList::dictionary();
    preferences.set("ZORAutoDefineMinSilenceLengthKey", platform::PropertyList::real(2500));
    TemporaryDirectory::write(dir / "trovario/org.trovario.TrovarioAgent.plist", preferences.toXml());
    EXPECT_EQ(define(path, environment).output, "  1  0:00.00  0:49.00  0:49.00\n");
}

TEST(TrovarioDefine, UnreadableEmptyOrMissingFilesFailClearly) {
    TemporaryDirectory dir;
    const std::string empty = dir / "empty.caf", text = dir / "notes.wav";
    ASSERT_EQ(writeCaf(empty, {}), 0);
    TemporaryDirectory::write(text, "not audio");
    for (const auto& [path, message] : std::vector<std::pair<std::string, std::string>>{
             {dir / "missing.caf", "missing.caf: No such file or directory"},
             {empty, "empty.caf holds no audio frames"}, {text, "not an audio file"}}) {
        Result result = define("'" + path + "'");
        EXPECT_EQ(result.exitCode, 1) << path;
        EXPECT_NE(result.output.find(message), std::string::npos) << result.output;
    }
    for (const char* usage : {"--sensitivity -1 x.caf", "--frobnicate x.caf", ""})
        EXPECT_EQ(define(usage).exitCode, 2) << usage;
}
