#include "select/select.hpp"
#include "select/shard.hpp"

#include <algorithm>
#include <string_view>

namespace runner {

namespace {

bool matches(const TestOpts& opts, std::string_view name, std::string_view filter) {
    return opts.filter_exact ? name == filter : name.find(filter) != std::string_view::npos;
}

bool matches_any(const TestOpts& opts, std::string_view name,
                 const std::vector<std::string>& filters) {
    return std::any_of(filters.begin(), filters.end(),
                       [&](const std::string& filter) { return matches(opts, name, filter); });
}

} // namespace

std::vector<TestDescAndFn> filter_tests(const TestOpts& opts, std::vector<TestDescAndFn> tests) {
    std::erase_if(tests, [&](const TestDescAndFn& test) {
        const std::string_view name = test.desc.name;
        if (!opts.filters.empty() && !matches_any(opts, name, opts.filters)) {
            return true;
        }
        if (matches_any(opts, name, opts.skip)) {
            return true;
        }
        if (opts.exclude_should_panic && test.desc.should_panic.kind != ShouldPanicKind::No) {
            return true;
        }
        return opts.run_ignored == RunIgnored::Only && !test.desc.ignore;
    });
    if (opts.run_ignored != RunIgnored::No) {
        for (auto& test : tests) {
            test.desc.ignore = false;
        }
    }
    if (opts.shard) {
        return shard_tests(*opts.shard, std::move(tests));
    }
    return tests;
}

} // namespace runner
