#include "agent/ITunesHandOff.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <glib.h>
#include <limits>
#include <memory>
#include <system_error>

#include "library/ProgramRunner.h"
#include "platform/Log.h"
#include "segmentation/AudioSlice.h"
#include "support/PreferenceKeys.h"
#include "tracks/TROVTrack.h"

using platform::Log;

namespace {

constexpr char kPlaylistName[] = "Trovario";

// Inside an AppleScript string literal: a backslash before each quote and
// backslash, and line breaks as escapes, so that no value can end the string
// or start a line of its own. NUL bytes (tag values may carry them) are
// dropped: the script's reader would take one for the end of its text.
std::string quoted(const std::string& value) {
    std::string text = "\"";
    for (char c : value) {
        if (c == '\0') continue;
        if (c == '"' || c == '\\') text += '\\';
        if (c == '\n') text += "\\n";
        else if (c == '\r') text += "\\r";
        else text += c;
    }
    return text + "\"";
}

const ITunesHandOff::Text& either(const ITunesHandOff::Text& first, const ITunesHandOff::Text& second) {
    return first ? first : second;
}

ZORAudioTrackInfo trackInfoOfSlice(const AudioSlice& slice) {
    ZORAudioTrackInfo info;
    info.setTrackTitle(slice.title());
    info.setTrackArtistName(slice.artist());
    info.setAlbumTitle(slice.album());
    info.setAlbumArtistName(slice.albumArtistName());
    info.setTrackComposerName(slice.composer());
    info.setGenre(slice.genre());
    info.setComments(slice.comment());
    if (slice.year() > 0) info.setAlbumYear(std::to_string(slice.year()));
    info.setTrackNumber(slice.trackNumber());
    info.setNumberOfTracks(slice.trackCount());
    info.setAlbumNumber(slice.cdNumber());
    info.setNumberOfAlbums(slice.cdCount());
    info.setTrackBegin(std::llround(slice.startTime()));
    info.setTrackEnd(std::llround(slice.endTime()));
    return info;
}

void removeExport(const std::string& file) {
    std::error_code error;
    if (std::filesystem::remove(file, error) || !error) return;
    Log::warning("the delivered export %s could not be removed: %s", file.c_str(), error.message().c_str());
}

}  // namespace

ITunesHandOff::ITunesHandOff(platform::UserDefaults& defaults, Deliverer deliverer)
    : mDefaults(defaults), mDeliverer(std::move(deliverer)) {}

const char* ITunesHandOff::encoderName(int64_t choice) {
    if (choice == DeliveryRequest::kAAC) return "AAC Encoder";
    if (choice == DeliveryRequest::kAppleLossless) return "Lossless Encoder";
    return "MP3 Encoder";
}

std::string ITunesHandOff::scriptText(const std::string& file, const ScriptValues& values, int64_t encoderChoice,
                                      int64_t timeoutSeconds) {
    std::string text;
    text.reserve(1024);
    auto line = [&text](const std::string& content) { text += content + '\r'; };
    auto valueLine = [&line](const char* property, const Text& value) {
        if (value) line(std::string("set ") + property + " of trovConvertedTrack to " + quoted(*value));
    };
    line("on run");
    line("tell application \"iTunes\"");
    line("set theFile to posix file " + quoted(file) + " as alias");
    line("set preferredEncoder to current encoder");
    line("with timeout of " + std::to_string(timeoutSeconds) + " seconds");
    line(std::string("set current encoder to encoder named \"") + encoderName(encoderChoice) + "\"");
    line("set convertedTrackList to (convert theFile)");
    line("end timeout");
    line("set current encoder to preferredEncoder");
    line("try");
    line("set trovPlayList to (user playlist " + quoted(kPlaylistName) + ")");
    line("on error");
    line("set trovPlayList to (make new user playlist with properties {name:" + quoted(kPlaylistName) + "})");
    line("end try");
    line("repeat with trovConvertedTrack in convertedTrackList");
    valueLine("album", values.mAlbum);
    valueLine("artist", either(values.mArtist, values.mAlbumArtist));
    valueLine("album artist", either(values.mAlbumArtist, values.mArtist));
    valueLine("name", values.mName);
    valueLine("genre", values.mGenre);
    line("duplicate trovConvertedTrack to trovPlayList");
    line("end repeat");
    line("end tell");
    return text + "end run";
}

platform::Result<std::string> ITunesHandOff::addTrackToITunesWithFile(const std::string& file, const TROVTrack& track) {
    const ScriptValues values{track.albumName(), track.artistName(), track.albumArtistName(), track.trackName(),
                              track.genre()};
    Log::info("addTrackToITunesWithFile(%s) %lld:%lld %lld", track.trackName().value_or("").c_str(),
              static_cast<long long>(track.startTime()), static_cast<long long>(track.stopTime()),
              static_cast<long long>(track.duration()));
    return handOff(file, values, *track.trackInfo());
}

platform::Result<std::string> ITunesHandOff::addSliceToITunesWithFile(const std::string& file, const AudioSlice& slice) {
    const ScriptValues values{slice.album(), slice.artist(), slice.albumArtistName(), slice.title(), slice.genre()};
    return handOff(file, values, trackInfoOfSlice(slice));
}

platform::Result<std::string> ITunesHandOff::handOff(const std::string& file, const ScriptValues& values,
                                                     const ZORAudioTrackInfo& trackInfo) {
    const int64_t encoderChoice = mDefaults.integerForKey(ZORAutoCaptureITunesFormatKey);
    Log::debug("encoder(%lld): %s", static_cast<long long>(encoderChoice), encoderName(encoderChoice));
    const int64_t timeoutSeconds = mDefaults.integerForKey(ZORSendToiTunesTimeoutKey);
    const std::string script = scriptText(file, values, encoderChoice, timeoutSeconds);
    Log::debug("%s", script.c_str());

    std::unique_ptr<gchar, decltype(&g_free)> osascript(g_find_program_in_path("osascript"), g_free);
    platform::Result<std::string> delivered =
        !osascript ? deliverToLibrary(deliveryRequest(file, trackInfo, encoderChoice, timeoutSeconds))
        : executeAppleScriptSource(script) ? platform::Result<std::string>("the music player's library")
        : platform::Status::failure("the music player's script failed (see the log); the export stays at " + file);
    if (delivered) removeExport(file);
    return delivered;
}

DeliveryRequest ITunesHandOff::deliveryRequest(const std::string& file, const ZORAudioTrackInfo& trackInfo,
                                               int64_t encoderChoice, int64_t timeoutSeconds) const {
    DeliveryRequest request;
    request.mExportedFile = file;
    request.mTrackInfo = trackInfo;
    const bool known = encoderChoice == DeliveryRequest::kAAC || encoderChoice == DeliveryRequest::kAppleLossless;
    request.mEncoder = known ? static_cast<DeliveryRequest::Encoder>(encoderChoice) : DeliveryRequest::kMP3;
    request.mTimeoutSeconds = static_cast<int32_t>(
        std::clamp<int64_t>(timeoutSeconds, 0, std::numeric_limits<int32_t>::max()));
    request.mDeliveryCommand = mDefaults.stringForKey(TROVDeliveryCommandKey);
    return request;
}

platform::Result<std::string> ITunesHandOff::deliverToLibrary(const DeliveryRequest& request) const {
    platform::Result<std::string> delivered = mDeliverer(request);
    // The deliverer's message already says where the export stays.
    if (!delivered) return delivered;
    Log::info("delivered %s to %s", request.mExportedFile.c_str(), delivered->c_str());
    return delivered;
}

bool ITunesHandOff::executeAppleScriptSource(const std::string& source) {
    // No time-out of its own: the script bounds its conversion itself.
    const platform::Status ran = ProgramRunner::run({"osascript"}, 0, source);
    if (!ran) Log::warning("AppleScript Failed: %s", ran.message().c_str());
    return ran.ok();
}
