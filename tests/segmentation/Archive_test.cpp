#include "SegmentTestSupport.h"
#include "platform/KeyedArchiver.h"

namespace {

using namespace segtest;
using platform::PropertyList;

// Two long tracks, a short one that auto-define merges, and every field of a slice set.
std::shared_ptr<AudioSegmentTree> processedTree() {
    const double rate = AudioSegmentTree::SampleRate;
    auto tree = treeWith(200 * rate, {{60 * rate, 61 * rate}, {70 * rate, 72 * rate}, {150 * rate, 150.5 * rate}});
    tree->performAutoDefine();
    tree->setMinSilenceDuration(0.5);
    AudioSlice& slice = *tree->sliceAtIndex(2);
    int32_t n = 0, number = 1000;
    for (auto set : {&AudioSlice::setTitle, &AudioSlice::setArtist, &AudioSlice::setAlbumArtistName, &AudioSlice::setAlbum,
                     &AudioSlice::setComposer, &AudioSlice::setGenre, &AudioSlice::setComment})
        (slice.*set)("text " + std::to_string(++n));
    for (auto set : {&AudioSlice::setYear, &AudioSlice::setTrackNumber, &AudioSlice::setTrackCount,
                     &AudioSlice::setCdNumber, &AudioSlice::setCdCount})
        (slice.*set)(++number);
    tree->sliceAtIndex(0)->setExpandedInOutlineView(false);
    return tree;
}

// Every value set is archived, and the restored tree archives exactly as the
// original did: nodes, spans, split flags, slice fields and which silences
// the slices share.
TEST(SegmentArchive, ProcessedTreeRoundTripsAndSlicesShareTheirSilences) {
    auto original = processedTree();
    const std::string xml = AudioSegmentTree::archive(*original).toXml();
    for (int i = 1; i <= 7; ++i) EXPECT_NE(xml.find("text " + std::to_string(i)), std::string::npos) << i;
    for (int i = 1001; i <= 1005; ++i) EXPECT_NE(xml.find(">" + std::to_string(i) + "<"), std::string::npos) << i;
    // A list is stored as "objectCount" and "obj0", "obj1", ...
    for (const char* key : {"<key>objectCount</key>", "<key>obj1</key>"}) EXPECT_NE(xml.find(key), std::string::npos);
    auto restored = AudioSegmentTree::unarchive(PropertyList::fromXml(xml, platform::kKeyedArchiveLimits).value());
    ASSERT_NE(restored, nullptr);
    EXPECT_EQ(AudioSegmentTree::archive(*restored).toXml(), xml);
    EXPECT_EQ(restored->shortestSilenceInTree(), original->shortestSilenceInTree());
    for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(restored->sliceAtIndex(i)->audioSegmentTree(), restored);

    // Moving the shared silence moves both slices, as before archiving.
    const Node split = restored->sliceAtIndex(0)->rightSilenceSegment();
    EXPECT_EQ(restored->sliceAtIndex(1)->leftSilenceSegment(), split);
    restored->clearSplitPointAtNode(split);
    EXPECT_EQ(slices(*restored), "0..3087000 3175200..6615000 6637050..8820000");
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

TEST(SegmentArchive, MalformedOrDeeplyNestedArchivesDecodeToNothing) {
    EXPECT_NE(decodeEdited("", {}), nullptr);
    EXPECT_EQ(AudioSegmentTree::unarchive(PropertyList::dictionary()), nullptr);
    const std::pair<const char*, Change> cases[] = {
        {"SkipList", [](PropertyList& l, auto&) { l.set("obj0", uid(999)); }},
        {"AudioSegmentNode", [](PropertyList& n, auto&) { n.set("$class", PropertyList::string("Evil")); }},
        {"AudioSegmentNode", [](PropertyList& n, auto&) { n.set("startTime", PropertyList::string("x")); }},
        {"AudioSegmentTree", [](PropertyList& t, auto&) { t.set("slices", PropertyList::array()); }},
        // A slice whose silence is really the audio-free root collection.
        {"AudioSlice", [](PropertyList& s, auto& root) { s.set("leftSilenceSegment", root); }},
        // The root collection's child list listing the root itself.
        {"SkipList", [](PropertyList& l, auto& root) { l.set("obj0", root); }},
    };
    for (const auto& [className, change] : cases) EXPECT_EQ(decodeEdited(className, change), nullptr) << className;

    // Collections nested far deeper than any real tree: refused, without
    // exhausting the stack.
    Node deep = audio(0, 1);
    for (int i = 0; i < 2000; ++i) deep = collectionOf({deep});
    auto tree = AudioSegmentTree::create();
    tree->rootNode()->addNodeToChildren(deep);
    EXPECT_EQ(AudioSegmentTree::unarchive(AudioSegmentTree::archive(*tree)), nullptr);
}

}  // namespace
