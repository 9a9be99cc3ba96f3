#pragma once

#include <cstdint>
#include <string>

#include "frameworks/ZORAudioTrackInfo.h"
#include "platform/Result.h"

// What the hand-off script asks of the music player, carried out where no
// scripting service exists: convert the exported file with the chosen
// encoder, tag it, file it in the music library, add it to the playlist
// "Trovario", and delete the export once all of that has succeeded.
struct DeliveryRequest {
    // The encoder choice of ZORAutoCaptureITunesFormatKey.
    enum Encoder : int32_t { kAAC = 1, kAppleLossless = 2, kMP3 = 3 };

    std::string mExportedFile;   // the track's .m4a in the export folder
    ZORAudioTrackInfo mTrackInfo;  // every field the track has; absent texts stay absent
    Encoder mEncoder = kAAC;     // any value other than 1 and 2 means MP3
    int32_t mTimeoutSeconds = 9000;  // for the conversion (ZORSendToiTunesTimeoutKey)
    std::string mDeliveryCommand;    // TROVDeliveryCommandKey: run after delivery, without a shell; empty for none
};

class MusicLibraryDeliverer {
public:
    // The delivered file's path in the music library; on failure the export
    // stays where it is and the message says what failed and where it is.
    static platform::Result<std::string> deliver(const DeliveryRequest& request);
    // The same into another music folder (the library and its Playlists).
    static platform::Result<std::string> deliver(const DeliveryRequest& request, const std::string& musicFolder);
};
