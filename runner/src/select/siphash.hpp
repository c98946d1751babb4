// SipHash, a keyed 64-bit hash, with a configurable number of rounds.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace runner {

// Streaming SipHash-c-d: bytes may be written in any number of pieces, the value depends only
// on their concatenation. Integers are written as their little-endian bytes.
template <int CompressionRounds, int FinalizationRounds>
class SipHasher {
public:
    explicit SipHasher(std::uint64_t key0 = 0, std::uint64_t key1 = 0)
        : v0_(key0 ^ 0x736f6d6570736575ULL), v1_(key1 ^ 0x646f72616e646f6dULL),
          v2_(key0 ^ 0x6c7967656e657261ULL), v3_(key1 ^ 0x7465646279746573ULL) {}

    void write(std::string_view bytes) {
        for (const char c : bytes) {
            write_byte(static_cast<std::uint8_t>(c));
        }
    }

    void write_byte(std::uint8_t byte) {
        word_ |= static_cast<std::uint64_t>(byte) << (8 * (length_ % 8));
        ++length_;
        if (length_ % 8 == 0) {
            compress(word_);
            word_ = 0;
        }
    }

    void write_u64(std::uint64_t value) {
        for (int i = 0; i < 8; ++i) {
            write_byte(static_cast<std::uint8_t>(value >> (8 * i)));
        }
    }

    // The hash of everything written so far; the hasher itself is left as it was.
    std::uint64_t finish() const {
        SipHasher copy = *this;
        // The last block holds the remaining bytes and, in its top byte, the total length.
        const std::uint64_t last = copy.word_ | (static_cast<std::uint64_t>(length_) << 56);
        copy.compress(last);
        copy.v2_ ^= 0xff;
        for (int i = 0; i < FinalizationRounds; ++i) {
            copy.round();
        }
        return copy.v0_ ^ copy.v1_ ^ copy.v2_ ^ copy.v3_;
    }

private:
    std::uint64_t v0_, v1_, v2_, v3_;
    std::uint64_t word_ = 0;   // the bytes of the block being filled, little-endian
    std::uint64_t length_ = 0; // bytes written; only its low byte enters the hash

    void compress(std::uint64_t block) {
        v3_ ^= block;
        for (int i = 0; i < CompressionRounds; ++i) {
            round();
        }
        v0_ ^= block;
    }

    void round() {
        v0_ += v1_;
        v1_ = std::rotl(v1_, 13);
        v1_ ^= v0_;
        v0_ = std::rotl(v0_, 32);
        v2_ += v3_;
        v3_ = std::rotl(v3_, 16);
        v3_ ^= v2_;
        v0_ += v3_;
        v3_ = std::rotl(v3_, 21);
        v3_ ^= v0_;
        v2_ += v1_;
        v1_ = std::rotl(v1_, 17);
        v1_ ^= v2_;
        v2_ = std::rotl(v2_, 32);
    }
};

// The hash the runner uses to shuffle checks: one compression and three finalization rounds.
using SipHasher13 = SipHasher<1, 3>;

} // namespace runner
