#include "run/list.hpp"

#include "format/formatter.hpp"
#include "select/select.hpp"

namespace runner {

void list_tests_console(const TestOpts& opts, std::vector<TestDescAndFn> tests,
                        OutputLocation& out) {
    // A list is never coloured, whatever --color says.
    FormatterSettings settings;
    const std::unique_ptr<OutputFormatter> formatter = make_formatter(opts.format, out, settings);
    DiscoveryState state;
    formatter->write_discovery_start();
    for (const TestDescAndFn& test : filter_tests(opts, std::move(tests))) {
        const bool is_bench = test.is_bench();
        formatter->write_test_discovered(test.desc, is_bench);
        ++(is_bench ? state.benchmarks : state.tests);
    }
    formatter->write_discovery_finish(state);
}

} // namespace runner
