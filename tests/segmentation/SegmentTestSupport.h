#pragma once

// Builders and compact summaries shared by the segmentation tests.

#include "platform/NamedException.h"
#include "platform/NotificationCenter.h"
#include "segmentation/AudioSegmentTree.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace segtest {

using Node = std::shared_ptr<AudioSegmentNode>;

inline Node silence(double start, double end) { return AudioSegmentNode::silenceSegmentNodeFrom(start, end); }
inline Node audio(double start, double end) { return AudioSegmentNode::audioSegmentNodeFrom(start, end); }

inline Node collectionOf(std::initializer_list<Node> children) {
    Node group = AudioSegmentNode::collectionSegmentNode();
    for (const Node& child : children) group->addNodeToChildren(child);
    return group;
}

// "S10-20" for a silence from 10 to 20, "A" for audio, "C" for a collection.
inline std::string span(const AudioSegmentNode& node) {
    return std::string(1, "SAC"[node.nodeType()]) + std::to_string(int64_t(node.startTime())) + "-" +
           std::to_string(int64_t(node.endTime()));
}

// A node's children (a tree's segments), spans separated by spaces.
inline std::string layout(AudioSegmentNode& node) {
    std::string text;
    for (int32_t i = 0; i < node.numberOfChildren(); ++i) text += (i ? " " : "") + span(*node.childAtIndex(i));
    return text;
}
inline std::string layout(const AudioSegmentTree& tree) { return layout(*tree.rootNode()); }

// The slices of a tree as "0..100".
inline std::string slices(const AudioSegmentTree& tree) {
    std::string text;
    for (int32_t i = 0; i < tree.numberOfSlices(); ++i)
        text += (i ? " " : "") + std::to_string(int64_t(tree.sliceAtIndex(i)->startTime())) + ".." +
                std::to_string(int64_t(tree.sliceAtIndex(i)->endTime()));
    return text;
}

// A tree of `duration` with the given silences, the gaps filled with audio
// and, with `split`, a slice between every two silences.
inline std::shared_ptr<AudioSegmentTree> treeWith(double duration, const std::vector<std::pair<double, double>>& silences,
                                                  bool split = true) {
    auto tree = AudioSegmentTree::create();
    tree->setDuration(duration);
    for (const auto& [start, end] : silences) tree->addSilenceSegmentFrom(start, end);
    tree->createAudioSegmentsBetweenSilences();
    if (split) tree->splitSilencesToTracks();
    return tree;
}

// Counts the change notifications `tree` posts while the counter lives.
struct TreeChanges {
    explicit TreeChanges(const AudioSegmentTree& tree)
        : mToken(platform::NotificationCenter::defaultCenter().addObserver(
              AudioSegmentTreeDidChangeNotification, &tree, [this](const std::string&, const void*) { ++count; })) {}
    ~TreeChanges() { platform::NotificationCenter::defaultCenter().removeObserver(mToken); }
    int count = 0;
    int mToken;
};

// Runs `action`, which must raise the named exception.
inline void expectRaises(const std::function<void()>& action, const std::string& name) {
    try {
        action();
        ADD_FAILURE() << "no " << name;
    } catch (const platform::NamedException& e) {
        EXPECT_EQ(e.name(), name);
    }
}

}  // namespace segtest
