#include "select/shard.hpp"

namespace runner {

std::vector<TestDescAndFn> shard_tests(const TestShard& shard, std::vector<TestDescAndFn> tests) {
    std::vector<TestDescAndFn> share;
    if (shard.total == 0) {
        return share;
    }
    for (std::size_t k = shard.index; k < tests.size(); k += shard.total) {
        share.push_back(std::move(tests[k]));
    }
    return share;
}

} // namespace runner
