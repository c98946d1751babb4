#include "select/shard.hpp"

namespace runner {

std::vector<TestDescAndFn> shard_tests(const TestShard& shard, std::vector<TestDescAndFn> tests) {
    std::vector<TestDescAndFn> share;
    if (shard.total == 0) {
        return share;
    }
    // Steps only while the next index stays below the end, so that a total near the largest
    // number never wraps an index around to the start.
    for (std::size_t k = shard.index; k < tests.size();) {
        share.push_back(std::move(tests[k]));
        if (tests.size() - k <= shard.total) {
            break;
        }
        k += shard.total;
    }
    return share;
}

} // namespace runner
