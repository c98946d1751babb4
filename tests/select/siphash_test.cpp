#include "select/siphash.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace runner {
namespace {

std::vector<std::uint8_t> counting_bytes(std::size_t length) {
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i);
    }
    return bytes;
}

template <class Hasher>
std::uint64_t hash_bytes(Hasher hasher, const std::vector<std::uint8_t>& bytes) {
    for (const auto byte : bytes) {
        hasher.write_byte(byte);
    }
    return hasher.finish();
}

TEST(SipHash, two_four_variant_gives_the_published_vectors) {
    // The published SipHash-2-4 values for the key 00 01 .. 0f: the empty message, and the
    // 15-byte message 00..0e of the worked example.
    const SipHasher<2, 4> keyed(0x0706050403020100ULL, 0x0f0e0d0c0b0a0908ULL);
    EXPECT_EQ(hash_bytes(keyed, {}), 0x726fdb47dd0e0e31ULL);
    EXPECT_EQ(hash_bytes(keyed, counting_bytes(15)), 0xa129ca6149be45e5ULL);
}

TEST(SipHash, one_three_with_zero_keys_gives_known_values) {
    // Computed with another SipHash-1-3 implementation with zero keys (an interpreter's
    // built-in byte-string hash with its hash key fixed at zero): partial, whole and several
    // blocks.
    EXPECT_EQ(hash_bytes(SipHasher13(), {0}), 0x68a914128e01e473ULL);
    EXPECT_EQ(hash_bytes(SipHasher13(), counting_bytes(8)), 0xead411e67ebe2eeaULL);
    EXPECT_EQ(hash_bytes(SipHasher13(), counting_bytes(15)), 0xf30eb725bb91c9eaULL);
    EXPECT_EQ(hash_bytes(SipHasher13(), counting_bytes(63)), 0x385d3e39e5f37359ULL);
    SipHasher13 name;
    name.write("height::tests::on_road_basic");
    EXPECT_EQ(name.finish(), 0xda869ae8dd18963cULL);
}

TEST(SipHash, pieces_and_integers_hash_as_their_concatenated_bytes) {
    SipHasher13 pieces;
    pieces.write("ab");
    pieces.write_u64(0x0102030405060708ULL);
    pieces.write("");
    pieces.write_byte(0xff);
    const std::vector<std::uint8_t> bytes = {'a', 'b', 8, 7, 6, 5, 4, 3, 2, 1, 0xff};
    EXPECT_EQ(pieces.finish(), hash_bytes(SipHasher13(), bytes));
    // Finishing does not change the hasher.
    EXPECT_EQ(pieces.finish(), pieces.finish());
}

} // namespace
} // namespace runner
