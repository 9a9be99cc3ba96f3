#include "SegmentTestSupport.h"
#include "platform/KeyedArchiver.h"

namespace {

using namespace segtest;
using platform::PropertyList;

// Test double: the system has no coder without keys, but every archivable
// class must refuse one.
class NonKeyedCoderDouble : public platform::Coder {
public:
    bool allowsKeyedCoding() const override { return false; }
};

using Text = const std::optional<std::string>& (AudioSlice::*)() const;
using SetText = void (AudioSlice::*)(const std::optional<std::string>&);
using Number = int32_t (AudioSlice::*)() const;
using SetNumber = void (AudioSlice::*)(int32_t);
const std::pair<Text, SetText> kTextFields[] = {
    {&AudioSlice::title, &AudioSlice::setTitle}, {&AudioSlice::artist, &AudioSlice::setArtist},
    {&AudioSlice::albumArtistName, &AudioSlice::setAlbumArtistName}, {&AudioSlice::album, &AudioSlice::setAlbum},
    {&AudioSlice::composer, &AudioSlice::setComposer}, {&AudioSlice::genre, &AudioSlice::setGenre},
    {&AudioSlice::comment, &AudioSlice::setComment}};
const std::pair<Number, SetNumber> kNumberFields[] = {
    {&AudioSlice::year, &AudioSlice::setYear}, {&AudioSlice::trackNumber, &AudioSlice::setTrackNumber},
    {&AudioSlice::trackCount, &AudioSlice::setTrackCount}, {&AudioSlice::cdNumber, &AudioSlice::setCdNumber},
    {&AudioSlice::cdCount, &AudioSlice::setCdCount}};

// Every field of a slice on one line.
std::string fields(const AudioSlice& slice) {
    std::string text = slice.expandedInOutlineView() ? "open" : "closed";
    for (const auto& field : kTextFields) text += "|" + (slice.*field.first)().value_or("-");
    for (const auto& field : kNumberFields) text += "|" + std::to_string((slice.*field.first)());
    return text;
}

// Two long tracks, a short one that auto-define merges, and every field of a slice set.
std::shared_ptr<AudioSegmentTree> processedTree() {
    const double rate = AudioSegmentTree::SampleRate;
    auto tree = treeWith(200 * rate, {{60 * rate, 61 * rate}, {70 * rate, 72 * rate}, {150 * rate, 150.5 * rate}});
    tree->performAutoDefine();
    tree->setMinSilenceDuration(0.5);
    AudioSlice& third = *tree->sliceAtIndex(2);
    int32_t value = 1;
    for (const auto& field : kTextFields) (third.*field.second)("text " + std::to_string(value++));
    for (const auto& field : kNumberFields) (third.*field.second)(value++);
    tree->sliceAtIndex(0)->setExpandedInOutlineView(false);
    return tree;
}

std::string xmlOf(const AudioSegmentTree& tree) { return AudioSegmentTree::archive(tree).toXml(); }

// The restored tree archives exactly as the original did (nodes, spans, split
// flags, which silences the slices share), and holds the values set.
TEST(SegmentArchive, ProcessedTreeRoundTripsAndSlicesShareTheirSilences) {
    auto original = processedTree();
    ASSERT_EQ(original->audioSegmentAtIndex(1)->nodeType(), AudioSegmentNode::Collection);
    ASSERT_EQ(original->numberOfSlices(), 4);
    std::optional<PropertyList> parsed = PropertyList::fromXml(xmlOf(*original));
    ASSERT_TRUE(parsed);
    auto restored = AudioSegmentTree::unarchive(*parsed);
    ASSERT_NE(restored, nullptr);
    EXPECT_EQ(xmlOf(*restored), xmlOf(*original));
    EXPECT_EQ(layout(*restored), layout(*original));
    EXPECT_EQ(slices(*restored), slices(*original));
    EXPECT_EQ(restored->minSilenceDuration(), 0.5);
    EXPECT_EQ(restored->shortestSilenceInTree(), original->shortestSilenceInTree());
    for (int32_t i = 0; i < original->numberOfSlices(); ++i) {
        EXPECT_EQ(fields(*restored->sliceAtIndex(i)), fields(*original->sliceAtIndex(i))) << "slice " << i;
        EXPECT_EQ(restored->sliceAtIndex(i)->audioSegmentTree(), restored);
    }
    EXPECT_EQ(fields(*restored->sliceAtIndex(2)), "open|text 1|text 2|text 3|text 4|text 5|text 6|text 7|8|9|10|11|12");

    // Moving the shared silence moves both slices, as before archiving.
    const Node split = restored->sliceAtIndex(0)->rightSilenceSegment();
    EXPECT_EQ(restored->sliceAtIndex(1)->leftSilenceSegment(), split);
    EXPECT_TRUE(split->doesSplit());
    restored->clearSplitPointAtNode(split);
    EXPECT_EQ(restored->numberOfSlices(), 3);
    EXPECT_EQ(restored->sliceAtIndex(0)->endTime(), 70 * AudioSegmentTree::SampleRate);
    EXPECT_EQ(restored.use_count(), 1);
}

// A list is stored as "objectCount" and "obj0", "obj1", ...; decoding adds
// them in that order, so ties come back reversed.
TEST(SegmentArchive, SkipListArchiveUsesCountAndPositionKeysAndReversesTies) {
    auto tree = AudioSegmentTree::create();
    tree->addAudioSegmentFrom(5, 6);
    tree->addAudioSegmentFrom(5, 7);  // tie: placed before the first
    PropertyList archive = AudioSegmentTree::archive(*tree);
    for (const char* key : {"<key>objectCount</key>", "<key>obj1</key>"})
        EXPECT_NE(xmlOf(*tree).find(key), std::string::npos) << key;
    auto restored = AudioSegmentTree::unarchive(archive);
    ASSERT_NE(restored, nullptr);
    EXPECT_EQ(layout(*restored), "A5-6 A5-7");
}

TEST(SegmentArchive, EveryClassRefusesACoderWithoutKeys) {
    NonKeyedCoderDouble coder;
    auto tree = AudioSegmentTree::create();
    for (const auto& action : std::vector<std::function<void()>>{
             [&] { tree->encodeWithCoder(coder); }, [&] { AudioSegmentTree::initWithCoder(coder); },
             [&] { tree->rootNode()->encodeWithCoder(coder); }, [&] { AudioSegmentNode::initWithCoder(coder); },
             [&] { tree->rootNode()->childNodes().encodeWithCoder(coder); }, [&] { SkipList::initWithCoder(coder); },
             [&] { tree->sliceAtIndex(0)->encodeWithCoder(coder); }, [&] { AudioSlice::initWithCoder(coder); }})
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

TEST(SegmentArchive, MalformedArchivesDecodeToNothing) {
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
    EXPECT_FALSE(unarchiver.error().empty());
}

}  // namespace
