// What the pretty and terse forms share: the text base and the run's closing sections.
#include "format/pretty_sections.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "text/utf8.hpp"

namespace runner {
namespace {

std::string with_thousands(std::uint64_t value) {
    std::string digits = std::to_string(value);
    std::string out;
    const std::size_t n = digits.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0) {
            out.push_back(',');
        }
        out.push_back(digits[i]);
    }
    return out;
}

} // namespace

void TextFormatter::write_test_discovered(const TestDesc& desc, bool is_bench) {
    write_plain_discovered(out_, desc, is_bench);
}

void TextFormatter::write_discovery_finish(const DiscoveryState& state) {
    write_plain_discovery_finish(out_, state);
}

void TextFormatter::write_run_start(std::size_t test_count,
                                    std::optional<std::uint64_t> shuffle_seed) {
    write_run_start_line(out_, test_count, shuffle_seed);
}

void TextFormatter::write_overdue_notice(const TestDesc& desc) {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(settings_.check_deadline).count();
    out_.write("test " + std::string(desc.name) + " has been running for over " +
               std::to_string(seconds) + " seconds\n");
    out_.flush();
}

void write_pretty(OutputLocation& out, std::string_view text, Color color, bool use_color) {
    if (use_color) {
        out.set_color(color);
    }
    out.write(text);
    if (use_color) {
        out.reset_color();
    }
}

void write_results(OutputLocation& out,
                   const std::vector<std::pair<TestDesc, std::string>>& results,
                   std::string_view title) {
    std::string heading = "\n";
    heading.append(title);
    heading += ":\n";
    out.write(heading);
    std::vector<std::string_view> names;
    std::string outputs;
    for (const auto& [desc, output] : results) {
        names.push_back(desc.name);
        if (!output.empty()) {
            outputs += "---- " + std::string(desc.name) + " stdout ----\n";
            outputs += text::utf8_lossy(output);
            outputs += '\n';
        }
    }
    if (!outputs.empty()) {
        out.write("\n");
        out.write(outputs);
    }
    out.write(heading);
    std::sort(names.begin(), names.end());
    for (const auto name : names) {
        out.write("    " + std::string(name) + "\n");
    }
}

bool write_run_finish_sections(OutputLocation& out, const RunCounts& state, bool show_output,
                               bool use_color) {
    if (show_output) {
        write_results(out, state.not_failures, "successes");
    }
    const bool success = state.succeeded();
    if (!success) {
        if (!state.failures.empty()) {
            write_results(out, state.failures, "failures");
        }
        if (!state.time_failures.empty()) {
            write_results(out, state.time_failures, "failures (time limit exceeded)");
        }
    }
    out.write("\ntest result: ");
    if (success) {
        write_pretty(out, "ok", Color::Green, use_color);
    } else {
        write_pretty(out, "FAILED", Color::Red, use_color);
    }
    std::string counts = ". " + std::to_string(state.passed) + " passed; " +
                         std::to_string(state.failed) + " failed; " +
                         std::to_string(state.ignored) + " ignored; " +
                         std::to_string(state.measured) + " measured; " +
                         std::to_string(state.filtered_out) + " filtered out";
    if (state.flaky) {
        counts += "; " + std::to_string(*state.flaky) + " flaky";
    }
    if (state.exec_time) {
        counts += "; finished in " + state.exec_time->to_string();
    }
    counts += "\n\n";
    out.write(counts);
    if (state.total == 1 && state.ignored == 1 && state.ignores.size() == 1 &&
        state.ignores.front().ignore_message) {
        const TestDesc& only = state.ignores.front();
        out.write("test: " + std::string(only.name) +
                  ", ignore_message: " + std::string(*only.ignore_message) + "\n\n");
    }
    out.flush();
    return success;
}

void write_run_start_line(OutputLocation& out, std::size_t test_count,
                          std::optional<std::uint64_t> shuffle_seed) {
    std::string line =
        "\nrunning " + std::to_string(test_count) + (test_count == 1 ? " test" : " tests");
    if (shuffle_seed) {
        line += " (shuffle seed: " + std::to_string(*shuffle_seed) + ")";
    }
    line += "\n";
    out.write(line);
    out.flush();
}

void write_plain_discovered(OutputLocation& out, const TestDesc& desc, bool is_bench) {
    out.write(std::string(desc.name) + (is_bench ? ": benchmark\n" : ": test\n"));
}

void write_plain_discovery_finish(OutputLocation& out, const DiscoveryState& state) {
    const auto plural = [](std::size_t n, const char* one, const char* many) {
        return n == 1 ? std::string("1 ") + one : std::to_string(n) + " " + many;
    };
    if (state.tests + state.benchmarks > 0) {
        out.write("\n");
    }
    out.write(plural(state.tests, "test", "tests") + ", " +
              plural(state.benchmarks, "benchmark", "benchmarks") + "\n");
    out.flush();
}

std::string bench_summary(const BenchSamples& samples) {
    const auto whole = [](double v) {
        return v > 0 && std::isfinite(v) ? static_cast<std::uint64_t>(std::llround(v)) : 0U;
    };
    return with_thousands(whole(samples.median_ns)) + " ns/iter (+/- " +
           with_thousands(whole(samples.deviation_ns)) + ")";
}

} // namespace runner
