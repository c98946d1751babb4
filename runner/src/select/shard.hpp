// Splitting a selection over several processes.
#pragma once

#include <vector>

#include "runner/options.hpp"
#include "runner/test_desc.hpp"

namespace runner {

// The share of `shard`: check k of `tests` (in their order) when k mod total is the shard's
// index. The shares of one selection are disjoint and together hold every check once.
std::vector<TestDescAndFn> shard_tests(const TestShard& shard, std::vector<TestDescAndFn> tests);

} // namespace runner
