#pragma once

#include "platform/KeyedArchiver.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class AudioSegmentNode;
class AudioSegmentTree;

extern const char* const AudioSliceDidChangeNotification;

// A track candidate: the stretch of a recording between two split silences of
// its tree, with the metadata the track will carry. Its span is derived from
// the silences on every call, so moving a split point moves both neighbours.
class AudioSlice final : public platform::Archivable {
public:
    using String = std::optional<std::string>;
    using NodePtr = std::shared_ptr<AudioSegmentNode>;

    static std::shared_ptr<AudioSlice> audioSliceWithTree(const std::shared_ptr<AudioSegmentTree>& tree,
                                                          NodePtr leftSilenceSegment, NodePtr rightSilenceSegment);
    AudioSlice(const std::shared_ptr<AudioSegmentTree>& tree, NodePtr leftSilenceSegment, NodePtr rightSilenceSegment);

    // Same tree, silences, display state, metadata (strings copied).
    std::shared_ptr<AudioSlice> copy() const;

    // The tree holds its slices; a slice only observes its tree.
    std::shared_ptr<AudioSegmentTree> audioSegmentTree() const { return mAudioSegmentTree.lock(); }
    void setAudioSegmentTree(const std::shared_ptr<AudioSegmentTree>& tree) { mAudioSegmentTree = tree; }

    const NodePtr& leftSilenceSegment() const { return mLeftSilenceSegment; }
    const NodePtr& rightSilenceSegment() const { return mRightSilenceSegment; }
    // Raise NSInvalidArgumentException for a node that is not a silence.
    void setLeftSilenceSegment(NodePtr node);
    void setRightSilenceSegment(NodePtr node);

    bool expandedInOutlineView() const { return mExpandedInOutlineView; }
    void setExpandedInOutlineView(bool expanded) { mExpandedInOutlineView = expanded; }

    const String& title() const { return mTitle; }
    const String& artist() const { return mArtist; }
    const String& albumArtistName() const { return mAlbumArtistName; }
    const String& album() const { return mAlbum; }
    const String& composer() const { return mComposer; }
    const String& genre() const { return mGenre; }
    const String& comment() const { return mComment; }
    // Notifies on every call.
    void setTitle(const String& title);
    // Notify only when the value changes (a null stored value always changes).
    void setArtist(const String& artist);
    void setAlbumArtistName(const String& albumArtistName);
    void setAlbum(const String& album);
    void setComposer(const String& composer);
    void setGenre(const String& genre);
    void setComment(const String& comment);

    int32_t year() const { return mYear; }
    void setYear(int32_t year);
    int32_t cdCount() const { return mCdCount; }
    void setCdCount(int32_t cdCount);
    int32_t cdNumber() const { return mCdNumber; }
    void setCdNumber(int32_t cdNumber);
    // A stored value above 0, otherwise derived from the slice's place in its
    // tree (0 when no tree holds the slice).
    int32_t trackNumber() const;
    void setTrackNumber(int32_t trackNumber);
    int32_t trackCount() const;
    void setTrackCount(int32_t trackCount);

    double startTime() const;
    double endTime() const;
    double duration() const { return endTime() - startTime(); }

    void sliceDidChange();
    std::string description() const;

    std::string archiveClassName() const override { return "AudioSlice"; }
    void encodeWithCoder(platform::Coder& coder) const override;
    // The tree reference is not archived: the decoding tree sets it.
    static std::shared_ptr<AudioSlice> initWithCoder(platform::Coder& coder);

private:
    AudioSlice() = default;
    void setString(String& field, const String& value);

    std::weak_ptr<AudioSegmentTree> mAudioSegmentTree;
    // Held, so that a silence that leaves the segment view cannot dangle.
    NodePtr mLeftSilenceSegment;
    NodePtr mRightSilenceSegment;
    bool mExpandedInOutlineView = false;
    String mTitle, mArtist, mAlbumArtistName, mAlbum, mComposer, mGenre, mComment;
    int32_t mYear = 0;
    int32_t mTrackNumber = 0;
    int32_t mTrackCount = 0;
    int32_t mCdNumber = 0;
    int32_t mCdCount = 0;
};
