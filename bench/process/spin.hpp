// The busy checks' work, shared with the bare thread program so both do the same arithmetic.
#pragma once

#include <cstdint>

// `iterations` steps of dependent integer arithmetic; 600,000 take about a millisecond.
inline std::uint64_t bench_spin(unsigned long iterations) {
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    for (unsigned long i = 0; i < iterations; ++i) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    }
    return state;
}
