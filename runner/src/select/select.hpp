// Selecting and ordering the checks of a run.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "runner/options.hpp"
#include "runner/test_desc.hpp"

namespace runner {

// Keeps the checks of a run, in registry order: those that a filter matches (all of them when
// there are no filters), less those a --skip value matches, less those that expect a panic under
// --exclude-should-panic. A filter or skip value matches a name it occurs in, or, with --exact,
// the name equal to it. Ignored handling comes last: --include-ignored clears every kept check's
// ignored flag; --ignored keeps only ignored checks and then clears their flag. Under sharding,
// only the shard's share of what is left is kept (shard_tests).
std::vector<TestDescAndFn> filter_tests(const TestOpts& opts, std::vector<TestDescAndFn> tests);

// Turns benchmarks into checks that run their body once (used without --bench).
std::vector<TestDescAndFn> convert_benchmarks_to_tests(std::vector<TestDescAndFn> tests);

// The key of a shuffle: the SipHash-1-3 value (zero keys) of the number of checks, then for each
// check in the given order the value 2, its name, a byte 0xFF and 1 for a benchmark or 0 for a
// check (integers as unsigned 64-bit little-endian).
std::uint64_t shuffle_key(const std::vector<TestDescAndFn>& tests);

// Reorders `tests` from `seed` and their names alone: the same seed and the same names in the
// same order give the same result on every machine and build.
void shuffle_tests(std::uint64_t seed, std::vector<TestDescAndFn>& tests);

// The seed of a shuffled run: the given one; else, when shuffling is on, the nanoseconds since
// the Unix epoch; else none (the run is not shuffled).
std::optional<std::uint64_t> get_shuffle_seed(const TestOpts& opts);

} // namespace runner
