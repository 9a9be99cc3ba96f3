#include "SegmentTestSupport.h"
#include "platform/KeyedArchiver.h"
#include "platform/Log.h"

namespace {

using namespace segtest;
using platform::PropertyList;

// Test double: the system has no coder without keys, but every archivable
// class must refuse one.
class NonKeyedCoderDouble : public platform::Coder {
public:
    bool allowsKeyedCoding() const override { return false; }
};

std::shared_ptr<AudioSegmentTree> viaXml(const AudioSegmentTree& tree) {
    std::string xml = AudioSegmentTree::archive(tree).toXml();
    auto parsed = PropertyList::fromXml(xml, platform::kKeyedArchiveLimits);
    if (!parsed) return nullptr;
    return AudioSegmentTree::unarchive(*parsed);
}

// Two long tracks, a short one that auto-define merges, and metadata.
std::shared_ptr<AudioSegmentTree> processedTree() {
    const double rate = AudioSegmentTree::SampleRate;
    auto tree = treeWith(200 * rate, {{60 * rate, 61 * rate}, {70 * rate, 72 * rate}, {150 * rate, 150.5 * rate}});
    tree->performAutoDefine();
    tree->setMinSilenceDuration(0.5);
    AudioSlice& first = *tree->sliceAtIndex(0);
    first.setArtist("Artist");
    first.setAlbum("Album");
    first.setYear(1987);
    first.setCdNumber(1);
    first.setCdCount(2);
    first.setExpandedInOutlineView(false);
    tree->sliceAtIndex(2)->setComment("live");
    tree->sliceAtIndex(2)->setTrackNumber(9);
    return tree;
}

void expectSameNode(const AudioSegmentNode& a, const AudioSegmentNode& b, const std::string& where) {
    EXPECT_EQ(a.nodeType(), b.nodeType()) << where;
    EXPECT_EQ(a.startTime(), b.startTime()) << where;
    EXPECT_EQ(a.endTime(), b.endTime()) << where;
    EXPECT_EQ(a.doesSplit(), b.doesSplit()) << where;
    ASSERT_EQ(a.numberOfChildren(), b.numberOfChildren()) << where;
    auto& left = const_cast<AudioSegmentNode&>(a);
    auto& right = const_cast<AudioSegmentNode&>(b);
    for (int32_t i = 0; i < a.numberOfChildren(); ++i)
        expectSameNode(*left.childAtIndex(i), *right.childAtIndex(i), where + "/" + std::to_string(i));
}

// Where a node sits: "3" for a root child, "3/1" inside a root collection.
std::string placeOf(AudioSegmentTree& tree, const AudioSegmentNode* node) {
    if (!node) return "none";
    for (int32_t i = 0; i < tree.numberOfAudioSegments(); ++i) {
        const Node& child = tree.audioSegmentAtIndex(i);
        if (child.get() == node) return std::to_string(i);
        int32_t inner = child->indexOfChild(node);
        if (inner != AudioSegmentNode::NotFound) return std::to_string(i) + "/" + std::to_string(inner);
    }
    return "detached";
}

void expectSameSlice(AudioSegmentTree& treeA, const AudioSlice& a, AudioSegmentTree& treeB, const AudioSlice& b) {
    EXPECT_EQ(placeOf(treeA, a.leftSilenceSegment().get()), placeOf(treeB, b.leftSilenceSegment().get()));
    EXPECT_EQ(placeOf(treeA, a.rightSilenceSegment().get()), placeOf(treeB, b.rightSilenceSegment().get()));
    EXPECT_EQ(a.expandedInOutlineView(), b.expandedInOutlineView());
    for (auto field : {&AudioSlice::title, &AudioSlice::artist, &AudioSlice::albumArtistName, &AudioSlice::album,
                       &AudioSlice::composer, &AudioSlice::genre, &AudioSlice::comment})
        EXPECT_EQ((a.*field)(), (b.*field)());
    for (auto field : {&AudioSlice::year, &AudioSlice::trackNumber, &AudioSlice::trackCount, &AudioSlice::cdNumber,
                       &AudioSlice::cdCount})
        EXPECT_EQ((a.*field)(), (b.*field)());
    EXPECT_EQ(a.startTime(), b.startTime());
    EXPECT_EQ(a.endTime(), b.endTime());
}

TEST(SegmentArchive, ProcessedTreeRoundTripsFieldByFieldAndSlicesShareTheirSilences) {
    auto original = processedTree();
    ASSERT_EQ(original->audioSegmentAtIndex(1)->nodeType(), AudioSegmentNode::Collection);
    ASSERT_EQ(original->numberOfSlices(), 4);
    auto restored = viaXml(*original);
    ASSERT_NE(restored, nullptr);

    EXPECT_EQ(restored->duration(), original->duration());
    EXPECT_EQ(restored->minSilenceDuration(), 0.5);
    EXPECT_EQ(restored->maxSilenceDuration(), original->maxSilenceDuration());
    EXPECT_EQ(restored->shortestSilenceInTree(), original->shortestSilenceInTree());
    EXPECT_EQ(restored->longestSilenceInTree(), original->longestSilenceInTree());
    expectSameNode(*original->rootNode(), *restored->rootNode(), "root");

    ASSERT_EQ(restored->numberOfSlices(), original->numberOfSlices());
    for (int32_t i = 0; i < original->numberOfSlices(); ++i) {
        SCOPED_TRACE("slice " + std::to_string(i));
        expectSameSlice(*original, *original->sliceAtIndex(i), *restored, *restored->sliceAtIndex(i));
        EXPECT_EQ(restored->sliceAtIndex(i)->audioSegmentTree(), restored);
    }

    // Slices share their silences with the segment view after decoding.
    const Node& split = restored->sliceAtIndex(0)->rightSilenceSegment();
    EXPECT_EQ(restored->sliceAtIndex(1)->leftSilenceSegment(), split);
    EXPECT_NE(placeOf(*restored, split.get()), "detached");

    // Moving the shared node moves both slices, as before archiving.
    restored->clearSplitPointAtNode(split);
    EXPECT_EQ(restored->numberOfSlices(), 3);
    EXPECT_EQ(restored->sliceAtIndex(0)->endTime(), 70 * AudioSegmentTree::SampleRate);
    EXPECT_FALSE(split->doesSplit());
    EXPECT_EQ(restored.use_count(), 1);
}

TEST(SegmentArchive, SkipListArchiveUsesCountAndPositionKeysAndReversesTies) {
    auto tree = AudioSegmentTree::create();
    Node second = tree->addAudioSegmentFrom(5, 6);
    Node first = tree->addAudioSegmentFrom(5, 7);  // tie: placed before `second`
    PropertyList archive = AudioSegmentTree::archive(*tree);
    PropertyList objects = *archive.get("$objects");
    bool sawList = false;
    for (size_t i = 0; i < objects.size(); ++i) {
        PropertyList object = objects.at(i);
        if (object.get("$class") && object.get("$class")->asString() == "SkipList" && object.get("objectCount")->asInteger() == 2) {
            EXPECT_TRUE(object.contains("obj0") && object.contains("obj1"));
            sawList = true;
        }
    }
    EXPECT_TRUE(sawList);

    auto restored = AudioSegmentTree::unarchive(archive);
    ASSERT_NE(restored, nullptr);
    EXPECT_EQ(restored->audioSegmentAtIndex(0)->endTime(), 6);  // the tie order is reversed
    EXPECT_EQ(restored->audioSegmentAtIndex(1)->endTime(), 7);
}

TEST(SegmentArchive, EveryClassRefusesACoderWithoutKeys) {
    NonKeyedCoderDouble coder;
    auto tree = AudioSegmentTree::create();
    std::vector<std::function<void()>> actions = {
        [&] { tree->encodeWithCoder(coder); },
        [&] { AudioSegmentTree::initWithCoder(coder); },
        [&] { tree->rootNode()->encodeWithCoder(coder); },
        [&] { AudioSegmentNode::initWithCoder(coder); },
        [&] { tree->rootNode()->childNodes().encodeWithCoder(coder); },
        [&] { SkipList::initWithCoder(coder); },
        [&] { tree->sliceAtIndex(0)->encodeWithCoder(coder); },
        [&] { AudioSlice::initWithCoder(coder); },
    };
    for (auto& action : actions)
        expectRaises(action, "NSInvalidArchiveOperationException", "Only supports NSKeyedArchiver coders");
}

PropertyList uid(int64_t n) {
    PropertyList ref = PropertyList::dictionary();
    ref.set("CF$UID", PropertyList::integer(n));
    return ref;
}

using Change = std::function<void(PropertyList& object, const PropertyList& rootReference)>;

// Decodes a small tree's archive with the first object of `className` changed.
std::shared_ptr<AudioSegmentTree> decodeEdited(const std::string& className, const Change& change) {
    auto tree = AudioSegmentTree::create();
    tree->setDuration(1000);
    tree->setSplitPointAtNode(tree->addSilenceSegmentFrom(100, 200));
    PropertyList archive = AudioSegmentTree::archive(*tree);
    PropertyList objects = *archive.get("$objects"), edited = PropertyList::array();
    const PropertyList root = *objects.at(1).get("rootNode");
    bool done = false;
    for (size_t i = 0; i < objects.size(); ++i) {
        PropertyList object = objects.at(i);
        if (!done && object.get("$class") && object.get("$class")->asString() == className) {
            change(object, root);
            done = true;
        }
        edited.append(object);
    }
    archive.set("$objects", edited);
    return AudioSegmentTree::unarchive(archive);
}

TEST(SegmentArchive, MalformedArchivesDecodeToNothingWithAReason) {
    EXPECT_NE(decodeEdited("", {}), nullptr);
    {
        platform::LogCapture log;
        EXPECT_EQ(AudioSegmentTree::unarchive(PropertyList::dictionary()), nullptr);
        EXPECT_TRUE(log.contains("cannot restore a segment tree: not a keyed archive"));
    }
    const struct {
        const char* className;
        Change change;
        const char* reason;
    } cases[] = {
        {"SkipList", [](PropertyList& l, auto&) { l.set("obj0", uid(999)); }, ""},
        {"AudioSegmentNode", [](PropertyList& n, auto&) { n.set("$class", PropertyList::string("Evil")); }, ""},
        {"AudioSegmentNode", [](PropertyList& n, auto&) { n.set("startTime", PropertyList::string("x")); }, ""},
        {"AudioSegmentTree", [](PropertyList& t, auto&) { t.set("slices", PropertyList::array()); }, ""},
        // A slice whose silence is really the audio-free root collection.
        {"AudioSlice", [](PropertyList& s, auto& root) { s.set("leftSilenceSegment", root); }, "is not a silence"},
        // The root collection's child list listing the root itself.
        {"SkipList", [](PropertyList& l, auto& root) { l.set("obj0", root); }, "contains itself"},
    };
    for (const auto& c : cases) {
        platform::LogCapture log;
        EXPECT_EQ(decodeEdited(c.className, c.change), nullptr) << c.className << " " << c.reason;
        EXPECT_TRUE(log.contains(c.reason)) << c.reason;
    }
}

TEST(SegmentArchive, DeeplyNestedArchivesAreRefusedWithoutExhaustingTheStack) {
    // node -> list -> node -> list ... far deeper than any real tree.
    PropertyList objects = PropertyList::array();
    objects.append(PropertyList::string("$null"));
    const int depth = 2000;
    for (int i = 0; i < depth; ++i) {
        PropertyList node = PropertyList::dictionary();
        node.set("$class", PropertyList::string("AudioSegmentNode"));
        node.set("childNodes", uid(2 * i + 2));
        objects.append(node);
        PropertyList list = PropertyList::dictionary();
        list.set("$class", PropertyList::string("SkipList"));
        list.set("objectCount", PropertyList::integer(i + 1 < depth ? 1 : 0));
        list.set("obj0", uid(2 * i + 3));
        objects.append(list);
    }
    PropertyList top = PropertyList::dictionary();
    top.set("root", uid(1));
    PropertyList archive = PropertyList::dictionary();
    archive.set("$top", top);
    archive.set("$objects", objects);

    platform::KeyedUnarchiver unarchiver(archive);
    AudioSegmentTree::registerArchiveClasses(unarchiver);
    EXPECT_EQ(unarchiver.decodeRootObject(), nullptr);
    EXPECT_EQ(unarchiver.error(), "the archive nests objects too deeply");
}

}  // namespace
