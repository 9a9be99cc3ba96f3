#include "segmentation/AudioSegmentTree.h"

#include "platform/Log.h"
#include "platform/NamedException.h"
#include "platform/NotificationCenter.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

const char* const AudioSegmentTreeDidChangeNotification = "AudioSegmentTreeDidChangeNotification";

namespace {

constexpr int HistogramCounters = 200;
constexpr double NoSilenceYet = 100000000.0;

[[noreturn]] void raiseRangeError() {
    throw platform::NamedException("NSRangeException", "index out of array bounds");
}

std::string formatted(const char* format, auto... values) {
    int length = snprintf(nullptr, 0, format, values...);
    std::string text(static_cast<size_t>(length), '\0');
    snprintf(text.data(), text.size() + 1, format, values...);
    return text;
}

// Leading blanks, an optional sign, then as many digits as there are.
long long leadingInteger(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
        value = std::min<long long>(value * 10 + (text[i] - '0'), INT32_MAX);
    return negative ? -value : value;
}

}  // namespace

std::shared_ptr<AudioSegmentTree> AudioSegmentTree::create() {
    auto tree = std::make_shared<AudioSegmentTree>(Token{});
    auto slice = AudioSlice::audioSliceWithTree(tree, nullptr, nullptr);
    slice->setExpandedInOutlineView(true);
    tree->mSlices.push_back(std::move(slice));
    return tree;
}

AudioSegmentTree::AudioSegmentTree(Token) : mRootNode(AudioSegmentNode::collectionSegmentNode()) {}

void AudioSegmentTree::setMinSilenceDuration(double duration) {
    if (duration == mMinSilenceDuration) return;
    mMinSilenceDuration = duration;
    reorder();
}

void AudioSegmentTree::setMaxSilenceDuration(double duration) {
    if (duration == mMaxSilenceDuration) return;
    mMaxSilenceDuration = duration;
    reorder();
}

void AudioSegmentTree::setSilenceRangeMin(double min, double max) {
    if (min == mMinSilenceDuration && max == mMaxSilenceDuration) return;
    mMinSilenceDuration = min;
    mMaxSilenceDuration = max;
    reorder();
}

AudioSegmentTree::NodePtr AudioSegmentTree::addSilenceSegmentFrom(double start, double end) {
    NodePtr node = AudioSegmentNode::silenceSegmentNodeFrom(start, end);
    mRootNode->addNodeToChildren(node);
    return node;
}

AudioSegmentTree::NodePtr AudioSegmentTree::addAudioSegmentFrom(double start, double end) {
    NodePtr node = AudioSegmentNode::audioSegmentNodeFrom(start, end);
    mRootNode->addNodeToChildren(node);
    return node;
}

int32_t AudioSegmentTree::numberOfAudioSegments() const { return mRootNode->numberOfChildren(); }

const AudioSegmentTree::NodePtr& AudioSegmentTree::audioSegmentAtIndex(int32_t index) const {
    return mRootNode->childAtIndex(index);
}

const AudioSegmentTree::SlicePtr& AudioSegmentTree::sliceAtIndex(int32_t index) const {
    if (index < 0 || index >= numberOfSlices()) raiseRangeError();
    return mSlices[static_cast<size_t>(index)];
}

int32_t AudioSegmentTree::indexOfSlice(const AudioSlice* slice) const {
    for (size_t i = 0; i < mSlices.size(); ++i)
        if (mSlices[i].get() == slice) return static_cast<int32_t>(i);
    return NotFound;
}

void AudioSegmentTree::removeSliceAtIndex(int32_t index) {
    sliceAtIndex(index);
    mSlices.erase(mSlices.begin() + index);
}

int32_t AudioSegmentTree::indexOfSliceForAudioSegment(const AudioSegmentNode& node) const {
    if (mSlices.size() == 1) return 0;
    for (size_t k = 0; k < mSlices.size(); ++k) {
        const AudioSlice& slice = *mSlices[k];
        // The first slice claims everything from the very start, a silence at 0.0 included.
        bool startsInside = !slice.leftSilenceSegment() || node.startTime() > slice.leftSilenceSegment()->endTime();
        double rightEnd = slice.rightSilenceSegment() ? slice.rightSilenceSegment()->endTime() : mDuration;
        if (startsInside && rightEnd >= node.endTime()) return static_cast<int32_t>(k);
    }
    return -1;
}

void AudioSegmentTree::setSplitPointAtNode(const NodePtr& node) { setSplitPointAtNode(node, nullptr); }

void AudioSegmentTree::setSplitPointAtNode(const NodePtr& node, const SlicePtr& slice) {
    int32_t k = indexOfSliceForAudioSegment(*node);
    const SlicePtr split = sliceAtIndex(k);

    SlicePtr added = slice;
    if (!added) {
        added = split->copy();
        added->setTitle(titleForCopyOf(split->title()));
    }
    added->setAudioSegmentTree(shared_from_this());
    added->setLeftSilenceSegment(node);
    added->setRightSilenceSegment(split->rightSilenceSegment());
    split->setRightSilenceSegment(node);
    added->setExpandedInOutlineView(split->expandedInOutlineView());
    node->setDoesSplit(true);
    mSlices.insert(mSlices.begin() + k + 1, added);
    treeDidChange();
}

std::optional<std::string> AudioSegmentTree::titleForCopyOf(const std::optional<std::string>& title) {
    if (!title) return std::nullopt;
    static const std::string marker = " Copy";
    size_t first = title->find(marker);
    if (first == std::string::npos) return *title + marker;
    size_t last = title->rfind(marker);
    long long number = leadingInteger(title->substr(last + marker.size()));
    return formatted("%s Copy %lld", title->substr(0, first).c_str(), number + 1);
}

void AudioSegmentTree::clearSplitPointAtNode(const NodePtr& node) {
    int32_t k = indexOfSliceForAudioSegment(*node);
    const SlicePtr ending = sliceAtIndex(k);
    const SlicePtr following = sliceAtIndex(k + 1);

    ending->setExpandedInOutlineView(ending->expandedInOutlineView() || following->expandedInOutlineView());
    ending->setRightSilenceSegment(following->rightSilenceSegment());
    mSlices.erase(mSlices.begin() + k + 1);
    node->setDoesSplit(false);
    treeDidChange();
}

int32_t AudioSegmentTree::rootIndexOf(const NodePtr& node, int32_t whenMissing) const {
    if (!node) return whenMissing;
    int32_t index = mRootNode->indexOfChild(node.get());
    if (index != NotFound) return index;
    // A merged silence stands where the collection holding it stands.
    for (int32_t i = 0; i < numberOfAudioSegments(); ++i) {
        const NodePtr& child = audioSegmentAtIndex(i);
        if (child->nodeType() == AudioSegmentNode::Collection && child->indexOfChild(node.get()) != NotFound) return i;
    }
    return whenMissing;
}

int32_t AudioSegmentTree::firstSegmentIndex(const AudioSlice& slice) const {
    const NodePtr& left = slice.leftSilenceSegment();
    int32_t index = rootIndexOf(left, 0);
    return left && left->doesSplit() && mRootNode->indexOfChild(left.get()) == index ? index + 1 : index;
}

int32_t AudioSegmentTree::lastSegmentIndex(const AudioSlice& slice) const {
    const NodePtr& right = slice.rightSilenceSegment();
    int32_t index = rootIndexOf(right, numberOfAudioSegments() - 1);
    return right && right->doesSplit() && mRootNode->indexOfChild(right.get()) == index ? index - 1 : index;
}

int32_t AudioSegmentTree::numberOfAudioSegmentsInSlice(const AudioSlice& slice) const {
    return lastSegmentIndex(slice) - firstSegmentIndex(slice) + 1;
}

const AudioSegmentTree::NodePtr& AudioSegmentTree::audioSegmentAtIndex(int32_t index, const AudioSlice& slice) const {
    return audioSegmentAtIndex(firstSegmentIndex(slice) + index);
}

void AudioSegmentTree::createAudioSegmentsBetweenSilences() {
    AudioSegmentNode& root = *mRootNode;
    if (root.numberOfChildren() == 0) {
        addAudioSegmentFrom(0.0, mDuration);
    } else {
        double firstStart = root.childAtIndex(0)->startTime();
        if (firstStart > 0.0) addAudioSegmentFrom(0.0, firstStart);

        for (int32_t i = 0; i + 1 < root.numberOfChildren(); ++i) {
            NodePtr left = root.childAtIndex(i);
            NodePtr right = root.childAtIndex(i + 1);
            if (left->nodeType() == AudioSegmentNode::Silence && right->nodeType() == AudioSegmentNode::Silence) {
                addAudioSegmentFrom(left->endTime(), right->startTime());
                ++i;
            }
        }

        double lastEnd = root.childAtIndex(root.numberOfChildren() - 1)->endTime();
        if (mDuration > lastEnd) addAudioSegmentFrom(lastEnd, mDuration);
    }
    calculateMinMaxSilenceDurations();
}

void AudioSegmentTree::splitSilencesToTracks() {
    for (int32_t i = 0; i + 1 < numberOfAudioSegments(); ++i) {
        NodePtr node = audioSegmentAtIndex(i);
        if (node->nodeType() == AudioSegmentNode::Silence) setSplitPointAtNode(node);
    }
}

void AudioSegmentTree::performAutoDefine() {
    // The tree counts sample frames; the preference counts seconds.
    const double threshold = mMinimumTrackDuration * SampleRate;
    bool merged = false;
    mRootNode->startEnumeration();
    while (NodePtr node = mRootNode->nextObject()) {
        if (node->nodeType() == AudioSegmentNode::Audio && node->duration() < threshold && !node->doesSplit()) {
            platform::Log::debug("merge!!!\n");
            mRootNode->mergeChildWithNeighbours(node);
            merged = true;
        }
    }
    if (merged) treeDidChange();
}

void AudioSegmentTree::reorder() {
    auto qualifies = [this](const AudioSegmentNode& node) {
        return node.duration() >= mMinSilenceDuration && node.duration() <= mMaxSilenceDuration;
    };
    bool changed = false;
    mRootNode->startEnumeration();
    while (NodePtr node = mRootNode->nextObject()) {
        if (node->nodeType() == AudioSegmentNode::Silence && !qualifies(*node) && !node->doesSplit()) {
            mRootNode->mergeChildWithNeighbours(node);
            changed = true;
        }
        if (node->nodeType() != AudioSegmentNode::Collection) continue;
        node->startEnumeration();
        while (NodePtr inner = node->nextObject()) {
            if (inner->nodeType() == AudioSegmentNode::Silence && qualifies(*inner)) {
                mRootNode->unmergeNode(inner, node);
                changed = true;
                break;
            }
        }
    }
    if (changed) treeDidChange();
}

template <class Visit>
void AudioSegmentTree::forEachSilence(Visit visit) const {
    SkipList& children = mRootNode->childNodes();
    for (uint32_t i = 0; i < children.count(); ++i) {
        AudioSegmentNode& child = *children.objectAtIndex(i);
        if (child.nodeType() == AudioSegmentNode::Silence) visit(child);
        if (child.nodeType() != AudioSegmentNode::Collection) continue;
        SkipList& members = child.childNodes();
        for (uint32_t j = 0; j < members.count(); ++j) {
            AudioSegmentNode& member = *members.objectAtIndex(j);
            if (member.nodeType() == AudioSegmentNode::Silence) visit(member);
        }
    }
}

void AudioSegmentTree::calculateMinMaxSilenceDurations() {
    mShortestSilence = NoSilenceYet;
    mLongestSilence = 0.0;
    forEachSilence([this](const AudioSegmentNode& silence) {
        if (silence.duration() > mLongestSilence) mLongestSilence = silence.duration();
        if (silence.duration() < mShortestSilence) mShortestSilence = silence.duration();
    });
}

void AudioSegmentTree::treeDidChange() {
    platform::NotificationCenter::defaultCenter().post(AudioSegmentTreeDidChangeNotification, this);
}

std::string AudioSegmentTree::description() const {
    std::string text = formatted("Root node has %d audio segment nodes:\n", numberOfAudioSegments());
    for (int32_t i = 0; i < numberOfAudioSegments(); ++i)
        text += formatted("%d: %s\n", i, audioSegmentAtIndex(i)->description().c_str());

    int counters[HistogramCounters] = {};
    forEachSilence([&counters](const AudioSegmentNode& silence) {
        // Compared before the conversion: a long, negative or undefined length has no counter.
        double bucket = std::trunc(silence.duration() * 10.0);
        if (bucket >= 0.0 && bucket < HistogramCounters) ++counters[static_cast<int>(bucket)];
    });
    int total = 0;
    for (int i = 0; i < HistogramCounters; ++i) {
        platform::Log::debug("silences %.1f s - %.1f s: %d", i / 10.0, (i + 1) / 10.0, counters[i]);
        total += counters[i];
    }
    platform::Log::debug("total silences: %d", total);
    return text;
}

void AudioSegmentTree::encodeWithCoder(platform::Coder& coder) const {
    platform::KeyedArchiver& archiver = platform::requireKeyedArchiver(coder);
    archiver.encodeDouble("duration", mDuration);
    archiver.encodeDouble("minSilenceDuration", mMinSilenceDuration);
    archiver.encodeDouble("maxSilenceDuration", mMaxSilenceDuration);
    archiver.encodeObject("rootNode", mRootNode.get());
    std::vector<const platform::Archivable*> slices;
    for (const SlicePtr& slice : mSlices) slices.push_back(slice.get());
    archiver.encodeObjects("slices", slices);
}

std::shared_ptr<AudioSegmentTree> AudioSegmentTree::initWithCoder(platform::Coder& coder) {
    platform::KeyedUnarchiver& unarchiver = platform::requireKeyedUnarchiver(coder);
    auto tree = std::make_shared<AudioSegmentTree>(Token{});
    tree->mDuration = unarchiver.decodeDouble("duration");
    tree->mMinSilenceDuration = unarchiver.decodeDouble("minSilenceDuration");
    tree->mMaxSilenceDuration = unarchiver.decodeDouble("maxSilenceDuration");
    tree->mRootNode = unarchiver.decodeObjectOfClass<AudioSegmentNode>("rootNode");
    for (const auto& object : unarchiver.decodeObjects("slices")) {
        auto slice = std::dynamic_pointer_cast<AudioSlice>(object);
        if (!slice) unarchiver.fail("\"slices\" holds something other than a slice");
        // A slice may be listed only once: each records its single place in the tree.
        if (tree->indexOfSlice(slice.get()) != NotFound) unarchiver.fail("\"slices\" lists a slice twice");
        slice->setAudioSegmentTree(tree);
        tree->mSlices.push_back(slice);
    }
    if (tree->mSlices.empty()) unarchiver.fail("a segment tree has no slices");
    tree->calculateMinMaxSilenceDurations();
    return tree;
}

void AudioSegmentTree::registerArchiveClasses(platform::KeyedUnarchiver& unarchiver) {
    unarchiver.setClass("AudioSegmentTree", [](platform::KeyedUnarchiver& u) { return initWithCoder(u); });
    unarchiver.setClass("AudioSegmentNode", [](platform::KeyedUnarchiver& u) { return AudioSegmentNode::initWithCoder(u); });
    unarchiver.setClass("SkipList", [](platform::KeyedUnarchiver& u) { return SkipList::initWithCoder(u); });
    unarchiver.setClass("AudioSlice", [](platform::KeyedUnarchiver& u) { return AudioSlice::initWithCoder(u); });
}

platform::PropertyList AudioSegmentTree::archive(const AudioSegmentTree& tree) {
    return platform::KeyedArchiver::archivedRootObject(tree);
}

std::shared_ptr<AudioSegmentTree> AudioSegmentTree::unarchive(const platform::PropertyList& archive) {
    platform::KeyedUnarchiver unarchiver(archive);
    registerArchiveClasses(unarchiver);
    auto tree = std::dynamic_pointer_cast<AudioSegmentTree>(unarchiver.decodeRootObject());
    if (!tree && !unarchiver.error().empty())
        platform::Log::warning("cannot restore a segment tree: %s", unarchiver.error().c_str());
    return tree;
}
