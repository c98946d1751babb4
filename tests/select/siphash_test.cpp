#include "select/siphash.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace runner {
namespace {

// A second SipHash, written straight from the algorithm's description and shaped differently
// from the streaming hasher: the whole message is padded into 64-bit blocks first, and the
// round counts are run-time values.
std::uint64_t reference_siphash(int c, int d, std::uint64_t k0, std::uint64_t k1,
                                const std::vector<std::uint8_t>& message) {
    const auto rotl = [](std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); };
    std::uint64_t v[4] = {k0 ^ 0x736f6d6570736575ULL, k1 ^ 0x646f72616e646f6dULL,
                          k0 ^ 0x6c7967656e657261ULL, k1 ^ 0x7465646279746573ULL};
    const auto sipround = [&] {
        v[0] += v[1];
        v[2] += v[3];
        v[1] = rotl(v[1], 13);
        v[3] = rotl(v[3], 16);
        v[1] ^= v[0];
        v[3] ^= v[2];
        v[0] = rotl(v[0], 32);
        v[2] += v[1];
        v[0] += v[3];
        v[1] = rotl(v[1], 17);
        v[3] = rotl(v[3], 21);
        v[1] ^= v[2];
        v[3] ^= v[0];
        v[2] = rotl(v[2], 32);
    };
    // Pad with zeros to one byte short of a multiple of 8, then the length modulo 256.
    std::vector<std::uint8_t> padded = message;
    while (padded.size() % 8 != 7) {
        padded.push_back(0);
    }
    padded.push_back(static_cast<std::uint8_t>(message.size() & 0xff));
    for (std::size_t block = 0; block < padded.size(); block += 8) {
        std::uint64_t m = 0;
        for (int i = 7; i >= 0; --i) {
            m = (m << 8) | padded[block + static_cast<std::size_t>(i)];
        }
        v[3] ^= m;
        for (int i = 0; i < c; ++i) {
            sipround();
        }
        v[0] ^= m;
    }
    v[2] ^= 0xff;
    for (int i = 0; i < d; ++i) {
        sipround();
    }
    return v[0] ^ v[1] ^ v[2] ^ v[3];
}

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

// The key 00 01 .. 0f of the algorithm's published test vectors, as two little-endian words.
constexpr std::uint64_t vector_k0 = 0x0706050403020100ULL;
constexpr std::uint64_t vector_k1 = 0x0f0e0d0c0b0a0908ULL;

TEST(SipHash, two_four_variant_gives_the_published_vectors) {
    // The published SipHash-2-4 values for key 00..0f: the empty message, and the 15-byte
    // message 00..0e of the worked example.
    EXPECT_EQ(hash_bytes(SipHasher<2, 4>(vector_k0, vector_k1), {}), 0x726fdb47dd0e0e31ULL);
    EXPECT_EQ(hash_bytes(SipHasher<2, 4>(vector_k0, vector_k1), counting_bytes(15)),
              0xa129ca6149be45e5ULL);
    EXPECT_EQ(reference_siphash(2, 4, vector_k0, vector_k1, {}), 0x726fdb47dd0e0e31ULL);
    EXPECT_EQ(reference_siphash(2, 4, vector_k0, vector_k1, counting_bytes(15)),
              0xa129ca6149be45e5ULL);
}

TEST(SipHash, one_three_with_zero_keys_gives_known_values) {
    // Computed with another SipHash-1-3 implementation with zero keys (an interpreter's
    // built-in byte-string hash with its hash key fixed at zero).
    EXPECT_EQ(hash_bytes(SipHasher13(), {0}), 0x68a914128e01e473ULL);
    EXPECT_EQ(hash_bytes(SipHasher13(), counting_bytes(8)), 0xead411e67ebe2eeaULL);
    EXPECT_EQ(hash_bytes(SipHasher13(), counting_bytes(15)), 0xf30eb725bb91c9eaULL);
    EXPECT_EQ(hash_bytes(SipHasher13(), counting_bytes(63)), 0x385d3e39e5f37359ULL);
    SipHasher13 name;
    name.write("height::tests::on_road_basic");
    EXPECT_EQ(name.finish(), 0xda869ae8dd18963cULL);
}

TEST(SipHash, agrees_with_the_reference_for_every_length_and_key) {
    for (std::size_t length = 0; length <= 300; ++length) {
        const auto bytes = counting_bytes(length);
        EXPECT_EQ(hash_bytes(SipHasher13(), bytes), reference_siphash(1, 3, 0, 0, bytes)) << length;
        EXPECT_EQ(hash_bytes(SipHasher<2, 4>(vector_k0, vector_k1), bytes),
                  reference_siphash(2, 4, vector_k0, vector_k1, bytes))
            << length;
    }
}

TEST(SipHash, pieces_and_integers_hash_as_their_concatenated_bytes) {
    SipHasher13 pieces;
    pieces.write("ab");
    pieces.write_u64(0x0102030405060708ULL);
    pieces.write("");
    pieces.write_byte(0xff);
    const std::vector<std::uint8_t> bytes = {'a', 'b', 8, 7, 6, 5, 4, 3, 2, 1, 0xff};
    EXPECT_EQ(pieces.finish(), reference_siphash(1, 3, 0, 0, bytes));
    // Finishing does not change the hasher.
    EXPECT_EQ(pieces.finish(), pieces.finish());
}

} // namespace
} // namespace runner
