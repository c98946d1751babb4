// Pieces of the human-readable report that more than one form writes.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "format/formatter.hpp"

namespace runner {

// What the two human-readable forms (pretty and terse) share: the plain list of list mode,
// the run-start line and the overdue notice.
class TextFormatter : public OutputFormatter {
public:
    void write_discovery_start() override {}
    void write_test_discovered(const TestDesc& desc, bool is_bench) override;
    void write_discovery_finish(const DiscoveryState& state) override;
    void write_run_start(std::size_t test_count,
                         std::optional<std::uint64_t> shuffle_seed) override;
    void set_concurrency(std::size_t threads) override { settings_.is_multithreaded = threads > 1; }

protected:
    TextFormatter(OutputLocation& out, const FormatterSettings& settings)
        : out_(out), settings_(settings), use_color_(settings.use_color && out.supports_color()) {}

    // "test {name} has been running for over {seconds} seconds", on a line of its own.
    void write_overdue_notice(const TestDesc& desc);

    OutputLocation& out_;
    FormatterSettings settings_;
    bool use_color_; // colour wanted and the location can show it
};

// Writes `text`, in `color` when `use_color` (the caller checks the location can colour).
void write_pretty(OutputLocation& out, std::string_view text, Color color, bool use_color);

// A failure (or success) section: the title, each non-empty captured output in list order,
// the title again and the names in ascending byte order.
void write_results(OutputLocation& out,
                   const std::vector<std::pair<TestDesc, std::string>>& results,
                   std::string_view title);

// The end of a run: the sections --show-output and failures call for, the summary line, and
// the note of a single ignored check. Returns the success flag.
bool write_run_finish_sections(OutputLocation& out, const RunCounts& state, bool show_output,
                               bool use_color);

// "running 27 tests" with the shuffle seed, after an empty line.
void write_run_start_line(OutputLocation& out, std::size_t test_count,
                          std::optional<std::uint64_t> shuffle_seed);

// List mode as plain lines: "{name}: test" per check, then the counts.
void write_plain_discovered(OutputLocation& out, const TestDesc& desc, bool is_bench);
void write_plain_discovery_finish(OutputLocation& out, const DiscoveryState& state);

// "1,234 ns/iter (+/- 56)".
std::string bench_summary(const BenchSamples& samples);

} // namespace runner
