#include "CatalogPrinter.h"

#include <cmath>
#include <cstdio>

#include "support/JSONString.h"

namespace {

std::string number(double value) {
    char text[32];
    snprintf(text, sizeof text, "%.3f", value);
    return text;
}

std::string field(const char* key, const std::string& json) { return std::string(", \"") + key + "\": " + json; }

std::string metadataFields(const TrackMetadata& tags) {
    return field("title", jsonString(tags.mTitle)) + field("artist", jsonString(tags.mArtist)) +
           field("album", jsonString(tags.mAlbum)) + field("albumArtist", jsonString(tags.mAlbumArtist)) +
           field("composer", jsonString(tags.mComposer)) + field("genre", jsonString(tags.mGenre)) +
           field("comments", jsonString(tags.mComments)) + field("year", std::to_string(tags.mYear)) +
           field("trackNumber", std::to_string(tags.mTrackNumber)) +
           field("trackCount", std::to_string(tags.mTrackCount)) +
           field("discNumber", std::to_string(tags.mDiscNumber)) + field("discCount", std::to_string(tags.mDiscCount)) +
           field("compilation", tags.mCompilation ? "true" : "false");
}

TrackMetadata tagsOf(const ZORMusicMetaData& music) {
    return {.mTitle = music.trackTitle(), .mArtist = music.trackArtistName(), .mAlbum = music.albumTitle(),
            .mAlbumArtist = music.albumArtistName(), .mComposer = music.trackComposerName(), .mGenre = music.genre(),
            .mComments = music.comments(), .mYear = music.albumYear().empty() ? 0 : std::stoi(music.albumYear()),
            .mTrackNumber = music.trackNumber(), .mTrackCount = music.numberOfTracks(),
            .mDiscNumber = music.albumNumber(), .mDiscCount = music.numberOfAlbums(),
            .mCompilation = music.isCompilation(), .mCoverArt = music.coverArt(), .mCoverMimeType = {}};
}

std::string clockText(double seconds) {
    const long whole = std::lround(std::max(0.0, seconds));
    char text[32];
    if (whole >= 3600) snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    else snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

// "Artist - Title (Album)", leaving out what is unknown.
std::string description(const TrackMetadata& tags) {
    std::string text = tags.mArtist.empty() ? tags.mTitle : tags.mArtist + " - " + tags.mTitle;
    if (tags.mTitle.empty()) text = tags.mArtist.empty() ? "(no tags)" : tags.mArtist;
    return tags.mAlbum.empty() ? text : text + " (" + tags.mAlbum + ")";
}

std::string jsonList(const std::vector<std::string>& items) {
    std::string text = "[";
    for (size_t i = 0; i < items.size(); ++i) text += (i ? ",\n  " : "\n  ") + items[i];
    return text + (items.empty() ? "]\n" : "\n]\n");
}

}  // namespace

std::string entryLines(const std::vector<CatalogEntry>& entries) {
    std::string text;
    for (const CatalogEntry& entry : entries)
        text += clockText(entry.mDuration) + "  " + description(entry.mMetadata) + "  " + entry.mPath + "\n";
    return text;
}

std::string entryJson(const std::vector<CatalogEntry>& entries) {
    std::vector<std::string> items;
    for (const CatalogEntry& entry : entries)
        items.push_back("{\"path\": " + jsonString(entry.mPath) + field("size", std::to_string(entry.mSize)) +
                        field("duration", number(entry.mDuration)) + metadataFields(entry.mMetadata) + "}");
    return jsonList(items);
}

std::string statsLines(const CatalogStats& stats) {
    char text[256];
    snprintf(text, sizeof text, "tracks: %lld\nduration: %s\ndatabase: %lld bytes (%.1f KB per track)\n",
             static_cast<long long>(stats.mTracks), clockText(stats.mSeconds).c_str(),
             static_cast<long long>(stats.mFileBytes),
             stats.mTracks ? double(stats.mFileBytes) / 1024.0 / double(stats.mTracks) : 0.0);
    return text;
}

std::string matchLines(const TrackMatches& matches) {
    if (matches.empty()) return "no match in the catalog\n";
    std::string text;
    int rank = 0;
    for (const auto& match : matches) {
        const TrackMetadata tags = match->musicMetaData() ? tagsOf(*match->musicMetaData()) : TrackMetadata();
        text += std::to_string(++rank) + ". " + description(tags) + "  " + match->path() + "  (bit error rate " +
                number(match->bitErrorRate()) + ")\n";
    }
    return text;
}

std::string matchJson(const std::string& path, double startSeconds, const TrackMatches& matches) {
    std::vector<std::string> items;
    for (const auto& match : matches) {
        const TrackMetadata tags = match->musicMetaData() ? tagsOf(*match->musicMetaData()) : TrackMetadata();
        items.push_back("{\"path\": " + jsonString(match->path()) + field("bitErrorRate", number(match->bitErrorRate())) +
                        metadataFields(tags) + field("coverBytes", std::to_string(tags.mCoverArt.size())) + "}");
    }
    return "{\"file\": " + jsonString(path) + field("start", number(startSeconds)) + field("matches", jsonList(items)) +
           "}\n";
}

std::string summaryLines(const AddSummary& summary) {
    std::string text;
    for (const std::string& note : summary.mUntagged) text += "added without tags: " + note + "\n";
    for (const std::string& refusal : summary.mRefused) text += "refused: " + refusal + "\n";
    return text + "added " + std::to_string(summary.mAdded) + ", skipped " + std::to_string(summary.mSkipped) +
           " (unchanged), refused " + std::to_string(summary.mRefused.size()) + "\n";
}
