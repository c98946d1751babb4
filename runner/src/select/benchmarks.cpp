#include "runner/bencher.hpp"
#include "select/select.hpp"

namespace runner {

std::vector<TestDescAndFn> convert_benchmarks_to_tests(std::vector<TestDescAndFn> tests) {
    for (auto& test : tests) {
        if (!test.is_bench()) {
            continue;
        }
        // A bencher that does not measure calls the benchmark's closure once.
        test.test = [bench = std::move(test.bench)]() -> CheckResult {
            Bencher once(false);
            bench(once);
            return std::nullopt;
        };
        test.bench = nullptr;
        test.kind = TestFnKind::DynTestFn;
    }
    return tests;
}

} // namespace runner
