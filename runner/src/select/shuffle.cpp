#include <chrono>

#include "runner/check.hpp"
#include "select/select.hpp"
#include "select/siphash.hpp"

namespace runner {

std::uint64_t shuffle_key(const std::vector<TestDescAndFn>& tests) {
    SipHasher13 hasher;
    hasher.write_u64(tests.size());
    for (const auto& test : tests) {
        hasher.write_u64(2);
        hasher.write(test.desc.name);
        hasher.write_byte(0xFF);
        hasher.write_u64(test.is_bench() ? 1 : 0);
    }
    return hasher.finish();
}

void shuffle_tests(std::uint64_t seed, std::vector<TestDescAndFn>& tests) {
    const std::uint64_t key = shuffle_key(tests);
    std::uint64_t state = seed;
    const std::size_t count = tests.size();
    for (std::size_t i = 0; i < count; ++i) {
        SipHasher13 hasher;
        hasher.write_u64(state);
        hasher.write_u64(key);
        state = hasher.finish();
        const std::size_t j = i + static_cast<std::size_t>(state % (count - i));
        std::swap(tests[i], tests[j]);
    }
}

std::optional<std::uint64_t> get_shuffle_seed(const TestOpts& opts) {
    if (opts.shuffle_seed) {
        return opts.shuffle_seed;
    }
    if (!opts.shuffle) {
        return std::nullopt;
    }
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    if (since_epoch.count() < 0) {
        panic("Failed to get system time");
    }
    // Nanoseconds since the epoch, truncated to 64 bits.
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count());
}

} // namespace runner
