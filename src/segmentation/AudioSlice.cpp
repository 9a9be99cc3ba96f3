#include "segmentation/AudioSlice.h"

#include "platform/NamedException.h"
#include "platform/NotificationCenter.h"
#include "segmentation/AudioSegmentNode.h"
#include "segmentation/AudioSegmentTree.h"

#include <cstdio>

const char* const AudioSliceDidChangeNotification = "AudioSliceDidChangeNotification";

namespace {

void requireSilence(const AudioSlice::NodePtr& node) {
    if (node && node->nodeType() != AudioSegmentNode::Silence)
        throw platform::NamedException("NSInvalidArgumentException", "AudioSegmentNode was not of type Silence");
}

}  // namespace

std::shared_ptr<AudioSlice> AudioSlice::audioSliceWithTree(const std::shared_ptr<AudioSegmentTree>& tree,
                                                           NodePtr leftSilenceSegment, NodePtr rightSilenceSegment) {
    return std::make_shared<AudioSlice>(tree, std::move(leftSilenceSegment), std::move(rightSilenceSegment));
}

AudioSlice::AudioSlice(const std::shared_ptr<AudioSegmentTree>& tree, NodePtr leftSilenceSegment,
                       NodePtr rightSilenceSegment)
    : audioSegmentTree_(tree) {
    setLeftSilenceSegment(std::move(leftSilenceSegment));
    setRightSilenceSegment(std::move(rightSilenceSegment));
    setTitle("My Track");
}

std::shared_ptr<AudioSlice> AudioSlice::copy() const {
    std::shared_ptr<AudioSlice> slice(new AudioSlice(*this));
    return slice;
}

void AudioSlice::setLeftSilenceSegment(NodePtr node) {
    requireSilence(node);
    leftSilenceSegment_ = std::move(node);
}

void AudioSlice::setRightSilenceSegment(NodePtr node) {
    requireSilence(node);
    rightSilenceSegment_ = std::move(node);
}

void AudioSlice::setTitle(const String& title) {
    title_ = title;
    sliceDidChange();
}

void AudioSlice::setString(String& field, const String& value) {
    if (field && value && *field == *value) return;
    field = value;
    sliceDidChange();
}

void AudioSlice::setArtist(const String& artist) { setString(artist_, artist); }
void AudioSlice::setAlbumArtistName(const String& albumArtistName) { setString(albumArtistName_, albumArtistName); }
void AudioSlice::setAlbum(const String& album) { setString(album_, album); }
void AudioSlice::setComposer(const String& composer) { setString(composer_, composer); }
void AudioSlice::setGenre(const String& genre) { setString(genre_, genre); }
void AudioSlice::setComment(const String& comment) { setString(comment_, comment); }

void AudioSlice::setYear(int32_t year) {
    if (year == year_) return;
    year_ = year;
    sliceDidChange();
}

void AudioSlice::setCdCount(int32_t cdCount) {
    if (cdCount == cdCount_) return;
    cdCount_ = cdCount;
    sliceDidChange();
}

void AudioSlice::setCdNumber(int32_t cdNumber) {
    cdNumber_ = cdNumber;
    sliceDidChange();
}

void AudioSlice::setTrackNumber(int32_t trackNumber) {
    trackNumber_ = trackNumber;
    sliceDidChange();
}

void AudioSlice::setTrackCount(int32_t trackCount) {
    trackCount_ = trackCount;
    sliceDidChange();
}

int32_t AudioSlice::trackNumber() const {
    if (trackNumber_ > 0) return trackNumber_;
    std::shared_ptr<AudioSegmentTree> tree = audioSegmentTree();
    int32_t position = tree ? tree->indexOfSlice(this) : AudioSegmentTree::NotFound;
    return position == AudioSegmentTree::NotFound ? 0 : position + 1;
}

int32_t AudioSlice::trackCount() const {
    if (trackCount_ > 0) return trackCount_;
    std::shared_ptr<AudioSegmentTree> tree = audioSegmentTree();
    return tree ? tree->numberOfSlices() : 0;
}

double AudioSlice::startTime() const { return leftSilenceSegment_ ? leftSilenceSegment_->endTime() : 0.0; }

double AudioSlice::endTime() const {
    if (rightSilenceSegment_) return rightSilenceSegment_->startTime();
    std::shared_ptr<AudioSegmentTree> tree = audioSegmentTree();
    return tree ? tree->duration() : 0.0;
}

void AudioSlice::sliceDidChange() {
    platform::NotificationCenter::defaultCenter().post(AudioSliceDidChangeNotification, this);
}

std::string AudioSlice::description() const {
    char text[128];
    snprintf(text, sizeof text, "AudioSlice [START:%f END:%f]", startTime(), endTime());
    return text;
}

void AudioSlice::encodeWithCoder(platform::Coder& coder) const {
    platform::KeyedArchiver& archiver = platform::requireKeyedArchiver(coder);
    archiver.encodeObject("leftSilenceSegment", leftSilenceSegment_.get());
    archiver.encodeObject("rightSilenceSegment", rightSilenceSegment_.get());
    archiver.encodeBool("expandedInOutlineView", expandedInOutlineView_);
    archiver.encodeString("title", title_);
    archiver.encodeString("artist", artist_);
    archiver.encodeString("albumArtistName", albumArtistName_);
    archiver.encodeString("album", album_);
    archiver.encodeString("composer", composer_);
    archiver.encodeString("genre", genre_);
    archiver.encodeString("comment", comment_);
    archiver.encodeInt32("year", year_);
    archiver.encodeInt32("trackNumber", trackNumber_);
    archiver.encodeInt32("trackCount", trackCount_);
    archiver.encodeInt32("cdNumber", cdNumber_);
    archiver.encodeInt32("cdCount", cdCount_);
}

std::shared_ptr<AudioSlice> AudioSlice::initWithCoder(platform::Coder& coder) {
    platform::KeyedUnarchiver& unarchiver = platform::requireKeyedUnarchiver(coder);
    std::shared_ptr<AudioSlice> slice(new AudioSlice());
    for (auto [key, field] : {std::pair{"leftSilenceSegment", &slice->leftSilenceSegment_},
                              std::pair{"rightSilenceSegment", &slice->rightSilenceSegment_}}) {
        *field = unarchiver.decodeObjectOfClass<AudioSegmentNode>(key, true);
        if (*field && (*field)->nodeType() != AudioSegmentNode::Silence)
            unarchiver.fail(std::string("a slice's \"") + key + "\" is not a silence");
    }
    slice->expandedInOutlineView_ = unarchiver.decodeBool("expandedInOutlineView");
    slice->title_ = unarchiver.decodeString("title");
    slice->artist_ = unarchiver.decodeString("artist");
    slice->albumArtistName_ = unarchiver.decodeString("albumArtistName");
    slice->album_ = unarchiver.decodeString("album");
    slice->composer_ = unarchiver.decodeString("composer");
    slice->genre_ = unarchiver.decodeString("genre");
    slice->comment_ = unarchiver.decodeString("comment");
    slice->year_ = unarchiver.decodeInt32("year");
    slice->trackNumber_ = unarchiver.decodeInt32("trackNumber");
    slice->trackCount_ = unarchiver.decodeInt32("trackCount");
    slice->cdNumber_ = unarchiver.decodeInt32("cdNumber");
    slice->cdCount_ = unarchiver.decodeInt32("cdCount");
    return slice;
}
