#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "frameworks/ZORAudioTrackInfo.h"
#include "library/MusicLibraryDeliverer.h"
#include "platform/Result.h"
#include "platform/UserDefaults.h"

class AudioSlice;
class TROVTrack;

// Hands an exported track to the music player: the player's script runs with
// osascript where that exists, and the built-in library deliverer does what
// the script says everywhere else. The export is deleted only after success;
// a failure keeps it where it is. Blocks the calling worker until done.
class ITunesHandOff {
public:
    using Text = ZORAudioTrackInfo::Text;
    using Deliverer = std::function<platform::Result<std::string>(const DeliveryRequest&)>;

    // The values of the script's conditional lines; an absent one leaves its
    // line out, an empty one still gives it.
    struct ScriptValues {
        Text mAlbum, mArtist, mAlbumArtist, mName, mGenre;
    };

    explicit ITunesHandOff(platform::UserDefaults& defaults, Deliverer deliverer = [](const DeliveryRequest& request) { return MusicLibraryDeliverer::deliver(request); });

    // Where the file went when it reached the player (and the export is
    // gone); else why not, the export staying where it is.
    platform::Result<std::string> addTrackToITunesWithFile(const std::string& file, const TROVTrack& track);
    platform::Result<std::string> addSliceToITunesWithFile(const std::string& file, const AudioSlice& slice);

    // Runs the text with osascript; true when it ran to its end.
    static bool executeAppleScriptSource(const std::string& source);

    // 1 AAC, 2 Apple Lossless, anything else MP3.
    static const char* encoderName(int64_t choice);
    // CR line ends, the last line without one.
    static std::string scriptText(const std::string& file, const ScriptValues& values, int64_t encoderChoice,
                                  int64_t timeoutSeconds);

private:
    platform::Result<std::string> handOff(const std::string& file, const ScriptValues& values,
                                          const ZORAudioTrackInfo& trackInfo);
    DeliveryRequest deliveryRequest(const std::string& file, const ZORAudioTrackInfo& trackInfo,
                                    int64_t encoderChoice, int64_t timeoutSeconds) const;
    platform::Result<std::string> deliverToLibrary(const DeliveryRequest& request) const;

    platform::UserDefaults& mDefaults;
    Deliverer mDeliverer;
};
