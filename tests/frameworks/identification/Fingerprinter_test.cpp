#include <gtest/gtest.h>

#include <bit>

#include "MusicLikePieces.h"

namespace {

// The bit error rate of `b` laid over `a` from item `offset` on.
double bitErrorRate(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, size_t offset) {
    size_t bits = 0, count = std::min(a.size() - offset, b.size());
    for (size_t i = 0; i < count; ++i) bits += size_t(std::popcount(a[offset + i] ^ b[i]));
    return double(bits) / double(32 * count);
}

TEST(Fingerprinter, PiecesDifferAndAnExcerptAlignsWithItsPiece) {
    const auto one = musiclike::piece(1, 20), two = musiclike::piece(2, 20);
    const auto first = musiclike::fingerprint(one), second = musiclike::fingerprint(two);
    ASSERT_NEAR(double(first.size()), 20 / Fingerprinter::kSecondsPerItem - 20, 5);  // less the filters' reach
    EXPECT_GT(bitErrorRate(first, second, 0), 0.3) << bitErrorRate(first, second, 0);
    const size_t items = 40;  // the excerpt starts on an item boundary
    const auto excerpt = musiclike::fingerprint(
        musiclike::excerpt(one, double(items) * Fingerprinter::kSecondsPerItem, -6));
    EXPECT_LT(bitErrorRate(first, excerpt, items), 0.1) << bitErrorRate(first, excerpt, items);
}

TEST(Fingerprinter, TooFewSamplesGiveNoItems) {
    const std::vector<int16_t> samples(100, 1000);
    EXPECT_TRUE(Fingerprinter::fingerprint(samples.data(), samples.size()).empty());
    EXPECT_TRUE(Fingerprinter::fingerprint(nullptr, 0).empty());
}

}  // namespace
