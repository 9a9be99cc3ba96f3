// trovario-define FILE: runs the track auto-definer on any audio file and
// prints the tracks it finds.

#include <cstdio>
#include <string>

#include "DefineArguments.h"
#include "TrackListPrinter.h"
#include "frameworks/ZORAudioStreamBasicDescription.h"
#include "frameworks/ZORExtAudioFile.h"
#include "platform/AudioConstants.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "support/PreferenceKeys.h"
#include "support/PreferenceUtilities.h"
#include "tracks/ZORTrackAutoDefiner.h"

namespace {

int fail(const std::string& message) {
    fprintf(stderr, "trovario-define: %s\n", message.c_str());
    return 1;
}

// The silence parameters the agent would use: the user's and the editor's
// preferences, else the registered defaults. Registering in memory only:
// this tool never writes preferences.
void fillDefaults(DefineArguments& arguments) {
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    defaults.addSuiteNamed(platform::Workspace::editorIdentifier());
    defaults.registerDefaults(PreferenceUtilities::defaultPreferences());
    if (!arguments.sensitivity) arguments.sensitivity = float(defaults.floatForKey(ZORNewAutoDefineSensitivityKey));
    if (!arguments.silenceMs) arguments.silenceMs = float(defaults.floatForKey(ZORAutoDefineMinSilenceLengthKey));
}

// The file's length in frames of the standard rate, in which the definer counts.
int64_t standardLength(const std::string& path, double standardRate, std::string& error) {
    auto file = ZORExtAudioFile::initForReading(path);
    if (file->open() != 0) {
        error = file->lastErrorMessage();
        return -1;
    }
    const int64_t frames = file->lengthInFrames();
    if (frames <= 0) {
        error = path + " holds no audio frames";
        return -1;
    }
    return int64_t(double(frames) * standardRate / file->sampleRate());
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    auto arguments = parseDefineArguments(argc, argv, error);
    if (!arguments) {
        fprintf(stderr, "trovario-define: %s\n%s", error.c_str(), kDefineUsage);
        return 2;
    }
    if (arguments->help) {
        fputs(kDefineUsage, stdout);
        return 0;
    }
    platform::Log::open("trovario-define", {.mSystemLog = false, .mForeground = true, .mVerbose = arguments->verbose});
    fillDefaults(*arguments);

    const double rate = ZORAudioStreamBasicDescription::standardFormat(0)->audioStreamBasicDescription()->mSampleRate;
    const int64_t length = standardLength(arguments->path, rate, error);
    if (length < 0) return fail(error);
    if (length < platform::kShortestRecordingFrames) {
        char seconds[32];
        snprintf(seconds, sizeof seconds, "%.2f", double(length) / rate);
        return fail(arguments->path + " holds only " + seconds + " s of audio, too little for a track (is it cut off?)");
    }
    if (length > int64_t(UINT32_MAX)) return fail(arguments->path + " is too long: the definer counts at most 4294967295 frames");

    ZORTrackAutoDefiner definer;
    auto tracks = definer.autoDefineTracksInFile(arguments->path, uint32_t(length), *arguments->sensitivity,
                                                 *arguments->silenceMs / 1000.0f);
    if (!tracks) return fail("cannot read the audio of " + arguments->path);

    TrackListReport report{arguments->path, rate, uint32_t(length), *arguments->sensitivity, *arguments->silenceMs,
                           &*tracks};
    fputs((arguments->json ? trackJson(report) : trackLines(report)).c_str(), stdout);
    return 0;
}
