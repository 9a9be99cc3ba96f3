#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the user's own tags say about a catalogued file.
struct TrackMetadata {
    std::string mTitle;
    std::string mArtist;
    std::string mAlbum;
    std::string mAlbumArtist;
    std::string mComposer;
    std::string mGenre;
    std::string mComments;
    int mYear = 0;  // 0 when unknown
    int mTrackNumber = 0;
    int mTrackCount = 0;
    int mDiscNumber = 0;
    int mDiscCount = 0;
    bool mCompilation = false;
    std::vector<uint8_t> mCoverArt;  // the front cover as stored in the file (JPEG or PNG), or empty
    std::string mCoverMimeType;
};
