// The JSON form: a JSON Lines event stream, one object per event, each line flushed at once so
// a consumer can follow a run live. Strings are UTF-8 whatever the checks printed; numbers are
// always finite; times are seconds.
#include <charconv>
#include <chrono>
#include <cmath>
#include <string>

#include "format/formatter.hpp"
#include "format/text_escape.hpp"

namespace runner {
namespace {

// Builds one event line: {"event":"...",...}\n.
class JsonLine {
public:
    explicit JsonLine(std::string_view event) {
        text_ = "{\"event\":";
        append_json_string(text_, event);
    }

    JsonLine& string(std::string_view key, std::string_view bytes) {
        start_field(key);
        append_json_string(text_, bytes);
        return *this;
    }

    JsonLine& count(std::string_view key, std::uint64_t value) {
        start_field(key);
        text_ += std::to_string(value);
        return *this;
    }

    JsonLine& boolean(std::string_view key, bool value) {
        start_field(key);
        text_ += value ? "true" : "false";
        return *this;
    }

    // A number in its shortest round-trip form; JSON has no NaN or infinity, so a value that
    // is not finite is left out.
    JsonLine& number(std::string_view key, double value) {
        if (!std::isfinite(value)) {
            return *this;
        }
        start_field(key);
        char buffer[64];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        text_.append(buffer, result.ptr);
        return *this;
    }

    JsonLine& seconds(std::string_view key, std::chrono::nanoseconds duration) {
        return number(key, std::chrono::duration<double>(duration).count());
    }

    void write_to(OutputLocation& out) {
        text_ += "}\n";
        out.write(text_);
        out.flush();
    }

private:
    void start_field(std::string_view key) {
        text_.push_back(',');
        append_json_string(text_, key);
        text_.push_back(':');
    }

    std::string text_;
};

class JsonFormatter final : public OutputFormatter {
public:
    JsonFormatter(OutputLocation& out, const FormatterSettings& settings)
        : out_(out), settings_(settings) {}

    void write_discovery_start() override { JsonLine("list_started").write_to(out_); }

    void write_test_discovered(const TestDesc& desc, bool is_bench) override {
        JsonLine line("discovered");
        line.string("name", desc.name)
            .string("kind", is_bench ? "benchmark" : "test")
            .boolean("ignored", desc.ignore);
        if (desc.ignore_message) {
            line.string("ignore_message", *desc.ignore_message);
        }
        if (!desc.source_file.empty()) {
            line.string("file", desc.source_file).count("line", desc.start_line);
        }
        line.write_to(out_);
    }

    void write_discovery_finish(const DiscoveryState& state) override {
        JsonLine("list_finished")
            .count("tests", state.tests)
            .count("benchmarks", state.benchmarks)
            .write_to(out_);
    }

    void write_run_start(std::size_t test_count,
                         std::optional<std::uint64_t> shuffle_seed) override {
        JsonLine line("run_started");
        line.count("test_count", test_count);
        if (shuffle_seed) {
            // A 64-bit seed does not fit a JSON number exactly.
            line.string("shuffle_seed", std::to_string(*shuffle_seed));
        }
        line.write_to(out_);
    }

    void write_test_start(const TestDesc& desc) override {
        JsonLine("test_started").string("name", desc.name).write_to(out_);
    }

    void write_timeout(const TestDesc& desc) override {
        JsonLine("test_timeout")
            .string("name", desc.name)
            .seconds("seconds", settings_.check_deadline)
            .write_to(out_);
    }

    void write_result(const TestDesc& desc, const TestResult& result,
                      const std::optional<TestExecTime>& exec_time,
                      std::string_view stdout_bytes) override {
        const bool retries = settings_.max_attempts > 1;
        // One event per attempt: the failed ones before the one that stands.
        for (std::size_t i = 0; i < result.earlier_attempts.size(); ++i) {
            const FailedAttempt& attempt = result.earlier_attempts[i];
            JsonLine earlier("test_attempt");
            earlier.string("name", desc.name)
                .count("attempt", i + 1)
                .string("outcome", outcome_word(attempt.kind));
            if (attempt.exec_time) {
                earlier.seconds("exec_time", *attempt.exec_time);
            }
            if (attempt.kind == TestResultKind::FailedWithMessage) {
                earlier.string("message", attempt.message);
            }
            earlier.string("output", attempt.stdout_bytes).write_to(out_);
        }
        JsonLine line("test_result");
        line.string("name", desc.name).string("outcome", outcome_word(result.kind));
        if (retries) {
            line.count("attempt", result.attempt());
            if (result.is_flaky()) {
                line.boolean("flaky", true);
            }
        }
        if (exec_time) {
            line.seconds("exec_time", exec_time->duration);
        }
        if (result.kind == TestResultKind::FailedWithMessage) {
            line.string("message", result.message);
        } else if (result.kind == TestResultKind::Ignored && desc.ignore_message) {
            line.string("message", *desc.ignore_message);
        }
        if (result.kind == TestResultKind::Measured) {
            line.number("median_ns", result.bench.median_ns)
                .number("deviation_ns", result.bench.deviation_ns);
        }
        if (result.is_failure() ||
            (result.kind == TestResultKind::Passed && settings_.show_output)) {
            line.string("output", stdout_bytes);
        }
        line.write_to(out_);
    }

    bool write_run_finish(const RunCounts& state) override {
        const bool success = state.succeeded();
        JsonLine line("run_finished");
        line.string("outcome", success ? "passed" : "failed")
            .count("passed", state.passed)
            .count("failed", state.failed)
            .count("ignored", state.ignored)
            .count("measured", state.measured)
            .count("filtered_out", state.filtered_out);
        if (state.flaky) {
            line.count("flaky", *state.flaky);
        }
        line.seconds("exec_time",
                     state.exec_time ? state.exec_time->duration : std::chrono::nanoseconds(0));
        line.write_to(out_);
        return success;
    }

private:
    OutputLocation& out_;
    FormatterSettings settings_;
};

} // namespace

std::unique_ptr<OutputFormatter> make_json_formatter(OutputLocation& out,
                                                     const FormatterSettings& settings) {
    return std::make_unique<JsonFormatter>(out, settings);
}

} // namespace runner
