// A keyed archive of the segment tree, as read back from disk: XML property
// list text decoded into a tree, which must then archive again.

#include "fuzz/FuzzSupport.h"
#include "platform/KeyedArchiver.h"
#include "segmentation/AudioSegmentTree.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto archive = platform::PropertyList::fromXml(fuzz::bytesOf(data, size), platform::kKeyedArchiveLimits);
    if (!archive) return 0;
    if (auto tree = AudioSegmentTree::unarchive(*archive)) AudioSegmentTree::archive(*tree).toXml();
    return 0;
}
