#include "library/TrackTagger.h"

#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4coverart.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>

#include <vector>

namespace {

TagLib::String utf8(const std::string& text) { return TagLib::String(text, TagLib::String::UTF8); }

// "n" or "n/count", as both tag formats read it.
std::string numberWithCount(int32_t number, int32_t count) {
    return count > 0 ? std::to_string(number) + "/" + std::to_string(count) : std::to_string(number);
}

TagLib::PropertyMap properties(const ZORAudioTrackInfo& info) {
    TagLib::PropertyMap map;
    const std::pair<const char*, const ZORAudioTrackInfo::Text*> texts[] = {
        {"TITLE", &info.trackTitle()},      {"ARTIST", &info.trackArtistName()},
        {"ALBUM", &info.albumTitle()},      {"ALBUMARTIST", &info.albumArtistName()},
        {"COMPOSER", &info.trackComposerName()}, {"GENRE", &info.genre()},
        {"COMMENT", &info.comments()},      {"DATE", &info.albumYear()},
    };
    for (const auto& [key, value] : texts)
        if (*value) map.replace(key, TagLib::StringList(utf8(**value)));
    if (info.trackNumber() > 0)
        map.replace("TRACKNUMBER", TagLib::StringList(numberWithCount(info.trackNumber(), info.numberOfTracks())));
    if (info.albumNumber() > 0)
        map.replace("DISCNUMBER", TagLib::StringList(numberWithCount(info.albumNumber(), info.numberOfAlbums())));
    if (info.isCompilation()) map.replace("COMPILATION", TagLib::StringList("1"));
    return map;
}

bool isPNG(const ZORAudioTrackInfo::Image& image) { return image.size() > 4 && image[0] == 0x89 && image[1] == 'P'; }

void addCover(TagLib::MP4::Tag& tag, const ZORAudioTrackInfo::Image& image) {
    TagLib::ByteVector bytes(reinterpret_cast<const char*>(image.data()), unsigned(image.size()));
    auto format = isPNG(image) ? TagLib::MP4::CoverArt::PNG : TagLib::MP4::CoverArt::JPEG;
    tag.setItem("covr", TagLib::MP4::CoverArtList().append(TagLib::MP4::CoverArt(format, bytes)));
}

void addCover(TagLib::ID3v2::Tag& tag, const ZORAudioTrackInfo::Image& image) {
    auto* frame = new TagLib::ID3v2::AttachedPictureFrame;
    frame->setMimeType(isPNG(image) ? "image/png" : "image/jpeg");
    frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    frame->setPicture(TagLib::ByteVector(reinterpret_cast<const char*>(image.data()), unsigned(image.size())));
    tag.addFrame(frame);
}

// Whatever the file carried before (the export's own tags and cover, the
// encoder's name) goes: the result holds the track's fields only.
void clear(TagLib::MP4::Tag& tag) {
    std::vector<TagLib::String> keys;
    for (const auto& item : tag.itemMap()) keys.push_back(item.first);
    for (const TagLib::String& key : keys) tag.removeItem(key);
}

// By frame ID: a copy of the frame list itself would delete the frames a
// second time (it owns them).
void clear(TagLib::ID3v2::Tag& tag) {
    std::vector<TagLib::ByteVector> ids;
    for (const auto& frames : tag.frameListMap()) ids.push_back(frames.first);
    for (const TagLib::ByteVector& id : ids) tag.removeFrames(id);
}

platform::Status failed(const std::string& path, const char* why) {
    return platform::Status::failure("cannot tag " + path + ": " + why);
}

platform::Status tagMP4(const std::string& path, const ZORAudioTrackInfo& info) {
    TagLib::MP4::File file(path.c_str());
    if (!file.isValid() || !file.tag()) return failed(path, "not a readable MP4 file");
    clear(*file.tag());
    file.setProperties(properties(info));
    if (info.coverArt() && !info.coverArt()->empty()) addCover(*file.tag(), *info.coverArt());
    return file.save() ? platform::Status::success() : failed(path, "the file could not be written");
}

platform::Status tagMP3(const std::string& path, const ZORAudioTrackInfo& info) {
    TagLib::MPEG::File file(path.c_str());
    if (!file.isValid()) return failed(path, "not a readable MP3 file");
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
    clear(*tag);
    tag->setProperties(properties(info));
    if (info.coverArt() && !info.coverArt()->empty()) addCover(*tag, *info.coverArt());
    return file.save(TagLib::MPEG::File::ID3v2) ? platform::Status::success()
                                                : failed(path, "the file could not be written");
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

platform::Status TrackTagger::tag(const std::string& path, const ZORAudioTrackInfo& info) {
    return endsWith(path, ".mp3") ? tagMP3(path, info) : tagMP4(path, info);
}

int TrackTagger::durationSeconds(const std::string& path) {
    TagLib::FileRef file(path.c_str());
    if (file.isNull() || !file.audioProperties()) return -1;
    return (file.audioProperties()->lengthInMilliseconds() + 500) / 1000;
}
