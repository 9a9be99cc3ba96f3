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
    : mAudioSegmentTree(tree) {
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
    mLeftSilenceSegment = std::move(node);
}

void AudioSlice::setRightSilenceSegment(NodePtr node) {
    requireSilence(node);
    mRightSilenceSegment = std::move(node);
}

void AudioSlice::setTitle(const String& title) {
    mTitle = title;
    sliceDidChange();
}

void AudioSlice::setString(String& field, const String& value) {
    if (field && value && *field == *value) return;
    field = value;
    sliceDidChange();
}

void AudioSlice::setArtist(const String& artist) { setString(mArtist, artist); }
void AudioSlice::setAlbumArtistName(const String& albumArtistName) { setString(mAlbumArtistName, albumArtistName); }
void AudioSlice::setAlbum(const String& album) { setString(mAlbum, album); }
void AudioSlice::setComposer(const String& composer) { setString(mComposer, composer); }
void AudioSlice::setGenre(const String& genre) { setString(mGenre, genre); }
void AudioSlice::setComment(const String& comment) { setString(mComment, comment); }

void AudioSlice::setYear(int32_t year) {
    if (year == mYear) return;
    mYear = year;
    sliceDidChange();
}

void AudioSlice::setCdCount(int32_t cdCount) {
    if (cdCount == mCdCount) return;
    mCdCount = cdCount;
    sliceDidChange();
}

void AudioSlice::setCdNumber(int32_t cdNumber) {
    mCdNumber = cdNumber;
    sliceDidChange();
}

void AudioSlice::setTrackNumber(int32_t trackNumber) {
    mTrackNumber = trackNumber;
    sliceDidChange();
}

void AudioSlice::setTrackCount(int32_t trackCount) {
    mTrackCount = trackCount;
    sliceDidChange();
}

int32_t AudioSlice::trackNumber() const {
    if (mTrackNumber > 0) return mTrackNumber;
    std::shared_ptr<AudioSegmentTree> tree = audioSegmentTree();
    int32_t position = tree ? tree->indexOfSlice(this) : AudioSegmentTree::NotFound;
    return position == AudioSegmentTree::NotFound ? 0 : position + 1;
}

int32_t AudioSlice::trackCount() const {
    if (mTrackCount > 0) return mTrackCount;
    std::shared_ptr<AudioSegmentTree> tree = audioSegmentTree();
    return tree ? tree->numberOfSlices() : 0;
}

double AudioSlice::startTime() const { return mLeftSilenceSegment ? mLeftSilenceSegment->endTime() : 0.0; }

double AudioSlice::endTime() const {
    if (mRightSilenceSegment) return mRightSilenceSegment->startTime();
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
    archiver.encodeObject("leftSilenceSegment", mLeftSilenceSegment.get());
    archiver.encodeObject("rightSilenceSegment", mRightSilenceSegment.get());
    archiver.encodeBool("expandedInOutlineView", mExpandedInOutlineView);
    archiver.encodeString("title", mTitle);
    archiver.encodeString("artist", mArtist);
    archiver.encodeString("albumArtistName", mAlbumArtistName);
    archiver.encodeString("album", mAlbum);
    archiver.encodeString("composer", mComposer);
    archiver.encodeString("genre", mGenre);
    archiver.encodeString("comment", mComment);
    archiver.encodeInt32("year", mYear);
    archiver.encodeInt32("trackNumber", mTrackNumber);
    archiver.encodeInt32("trackCount", mTrackCount);
    archiver.encodeInt32("cdNumber", mCdNumber);
    archiver.encodeInt32("cdCount", mCdCount);
}

std::shared_ptr<AudioSlice> AudioSlice::initWithCoder(platform::Coder& coder) {
    platform::KeyedUnarchiver& unarchiver = platform::requireKeyedUnarchiver(coder);
    std::shared_ptr<AudioSlice> slice(new AudioSlice());
    for (auto [key, field] : {std::pair{"leftSilenceSegment", &slice->mLeftSilenceSegment},
                              std::pair{"rightSilenceSegment", &slice->mRightSilenceSegment}}) {
        *field = unarchiver.decodeObjectOfClass<AudioSegmentNode>(key, true);
        if (*field && (*field)->nodeType() != AudioSegmentNode::Silence)
            unarchiver.fail(std::string("a slice's \"") + key + "\" is not a silence");
    }
    slice->mExpandedInOutlineView = unarchiver.decodeBool("expandedInOutlineView");
    slice->mTitle = unarchiver.decodeString("title");
    slice->mArtist = unarchiver.decodeString("artist");
    slice->mAlbumArtistName = unarchiver.decodeString("albumArtistName");
    slice->mAlbum = unarchiver.decodeString("album");
    slice->mComposer = unarchiver.decodeString("composer");
    slice->mGenre = unarchiver.decodeString("genre");
    slice->mComment = unarchiver.decodeString("comment");
    slice->mYear = unarchiver.decodeInt32("year");
    slice->mTrackNumber = unarchiver.decodeInt32("trackNumber");
    slice->mTrackCount = unarchiver.decodeInt32("trackCount");
    slice->mCdNumber = unarchiver.decodeInt32("cdNumber");
    slice->mCdCount = unarchiver.decodeInt32("cdCount");
    return slice;
}
