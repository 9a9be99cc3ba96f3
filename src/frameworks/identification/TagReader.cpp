#include "frameworks/identification/TagReader.h"

#include <taglib/attachedpictureframe.h>
#include <taglib/aifffile.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>

#include <cstdlib>
#include <filesystem>

namespace {

std::string text(const TagLib::String& value) { return value.toCString(true); }

const TagLib::String* firstValue(const TagLib::PropertyMap& properties, const char* key) {
    auto found = properties.find(key);
    return found == properties.end() || found->second.isEmpty() ? nullptr : &found->second.front();
}

// The leading number of a value such as "3" or "3/12", and the one after the slash.
std::pair<int, int> numberAndCount(const TagLib::String* value) {
    if (!value) return {0, 0};
    const std::string digits = text(*value);
    char* end = nullptr;
    const long number = std::strtol(digits.c_str(), &end, 10);
    const long count = *end == '/' ? std::strtol(end + 1, nullptr, 10) : 0;
    return {number > 0 ? int(number) : 0, count > 0 ? int(count) : 0};
}

// Vorbis comments keep the counts in fields of their own.
int separateCount(const TagLib::PropertyMap& properties, const char* key, const char* alternative) {
    const TagLib::String* value = firstValue(properties, key);
    return numberAndCount(value ? value : firstValue(properties, alternative)).first;
}

void readProperties(const TagLib::PropertyMap& properties, TrackMetadata& metadata) {
    if (auto value = firstValue(properties, "ALBUMARTIST")) metadata.mAlbumArtist = text(*value);
    if (auto value = firstValue(properties, "COMPOSER")) metadata.mComposer = text(*value);
    std::tie(metadata.mTrackNumber, metadata.mTrackCount) = numberAndCount(firstValue(properties, "TRACKNUMBER"));
    std::tie(metadata.mDiscNumber, metadata.mDiscCount) = numberAndCount(firstValue(properties, "DISCNUMBER"));
    if (!metadata.mTrackCount) metadata.mTrackCount = separateCount(properties, "TRACKTOTAL", "TOTALTRACKS");
    if (!metadata.mDiscCount) metadata.mDiscCount = separateCount(properties, "DISCTOTAL", "TOTALDISCS");
    // FFmpeg writes the compilation flag of MP3 files as a user text frame named TCMP.
    const TagLib::String* compilation = firstValue(properties, "COMPILATION");
    metadata.mCompilation = numberAndCount(compilation ? compilation : firstValue(properties, "TCMP")).first == 1;
    // ... and their comments as a user text frame named comment, which Tag::comment() leaves out.
    if (auto value = firstValue(properties, "COMMENT"); value && metadata.mComments.empty())
        metadata.mComments = text(*value);
}

void setCover(TrackMetadata& metadata, const TagLib::ByteVector& data, const TagLib::String& mimeType) {
    metadata.mCoverArt.assign(data.begin(), data.end());
    metadata.mCoverMimeType = text(mimeType);
}

// The front cover, else the first picture.
void readId3v2Cover(TagLib::ID3v2::Tag* tag, TrackMetadata& metadata) {
    if (!tag) return;
    using TagLib::ID3v2::AttachedPictureFrame;
    const AttachedPictureFrame* chosen = nullptr;
    for (TagLib::ID3v2::Frame* frame : tag->frameList("APIC")) {
        auto picture = dynamic_cast<const AttachedPictureFrame*>(frame);
        if (!picture || (chosen && chosen->type() == AttachedPictureFrame::FrontCover)) continue;
        if (!chosen || picture->type() == AttachedPictureFrame::FrontCover) chosen = picture;
    }
    if (chosen) setCover(metadata, chosen->picture(), chosen->mimeType());
}

void readFlacCover(const TagLib::List<TagLib::FLAC::Picture*>& pictures, TrackMetadata& metadata) {
    const TagLib::FLAC::Picture* chosen = nullptr;
    for (const TagLib::FLAC::Picture* picture : pictures)
        if (!chosen || (chosen->type() != TagLib::FLAC::Picture::FrontCover &&
                        picture->type() == TagLib::FLAC::Picture::FrontCover))
            chosen = picture;
    if (chosen) setCover(metadata, chosen->data(), chosen->mimeType());
}

// MP4 marks no picture as the front cover: the first one is.
void readMp4Cover(TagLib::MP4::Tag* tag, TrackMetadata& metadata) {
    if (!tag || !tag->contains("covr")) return;
    const TagLib::MP4::CoverArtList covers = tag->item("covr").toCoverArtList();
    if (covers.isEmpty()) return;
    const TagLib::MP4::CoverArt& cover = covers.front();
    const char* mimeType = cover.format() == TagLib::MP4::CoverArt::PNG   ? "image/png"
                           : cover.format() == TagLib::MP4::CoverArt::JPEG ? "image/jpeg"
                                                                          : "";
    setCover(metadata, cover.data(), mimeType);
}

void readCover(TagLib::File* file, TrackMetadata& metadata) {
    if (auto mpeg = dynamic_cast<TagLib::MPEG::File*>(file)) readId3v2Cover(mpeg->ID3v2Tag(), metadata);
    else if (auto wav = dynamic_cast<TagLib::RIFF::WAV::File*>(file)) readId3v2Cover(wav->ID3v2Tag(), metadata);
    else if (auto aiff = dynamic_cast<TagLib::RIFF::AIFF::File*>(file)) readId3v2Cover(aiff->tag(), metadata);
    else if (auto mp4 = dynamic_cast<TagLib::MP4::File*>(file)) readMp4Cover(mp4->tag(), metadata);
    else if (auto flac = dynamic_cast<TagLib::FLAC::File*>(file)) readFlacCover(flac->pictureList(), metadata);
    else if (auto xiph = dynamic_cast<TagLib::Ogg::XiphComment*>(file->tag())) readFlacCover(xiph->pictureList(), metadata);
}

}  // namespace

platform::Result<TrackMetadata> TagReader::read(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return platform::Status::failure("cannot read the tags of " + path + ": no such file");
    TagLib::FileRef file(path.c_str(), false);
    if (file.isNull() || !file.tag())
        return platform::Status::failure("cannot read the tags of " + path +
                                         ": TagLib does not know this kind of file, or it is damaged");
    TrackMetadata metadata;
    const TagLib::Tag& tag = *file.tag();
    metadata.mTitle = text(tag.title());
    metadata.mArtist = text(tag.artist());
    metadata.mAlbum = text(tag.album());
    metadata.mGenre = text(tag.genre());
    metadata.mComments = text(tag.comment());
    metadata.mYear = int(tag.year());
    readProperties(file.file()->properties(), metadata);
    if (!metadata.mTrackNumber) metadata.mTrackNumber = int(tag.track());
    readCover(file.file(), metadata);
    return metadata;
}
