// The JUnit form: one XML document, written when the run finishes, with one <testsuite> root
// and one <testcase> per reported check. CI servers drop the whole file on one bad character,
// so everything a check printed goes through the XML escaping, and attribute totals are
// counted from the cases themselves.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <unordered_map>
#include <vector>

#include "format/formatter.hpp"
#include "format/pretty_sections.hpp"
#include "format/text_escape.hpp"
#include "platform/platform.hpp"
#include "text/utf8.hpp"

namespace runner {
namespace {

using Clock = std::chrono::steady_clock;

// Captured output beyond this is cut in the middle: XML readers refuse text nodes of about
// ten million bytes, and escaping can make the kept text up to five times longer.
constexpr std::size_t output_keep_head = 512 * 1024;
constexpr std::size_t output_keep_tail = 512 * 1024;
// A failure message attribute is a one-line summary.
constexpr std::size_t message_max_bytes = 1000;
constexpr std::size_t unstarted_order = std::size_t{1} << 40U;

// Seconds with three decimals, from whole nanoseconds: "0.004".
std::string seconds_3(std::chrono::nanoseconds duration) {
    const long long ns = std::max<long long>(0, duration.count());
    const long long ms = ns / 1'000'000 + (ns % 1'000'000 >= 500'000 ? 1 : 0);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%lld.%03lld", ms / 1000, ms % 1000);
    return buffer;
}

std::string utc_timestamp(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm parts{};
    char buffer[32] = "1970-01-01T00:00:00";
    if (gmtime_r(&seconds, &parts) != nullptr) {
        std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &parts);
    }
    return buffer;
}

std::string one_line(std::string_view text) {
    std::string_view line = text.substr(0, text.find('\n'));
    if (line.size() <= message_max_bytes) {
        return std::string(line);
    }
    return std::string(text::utf8_prefix(line, message_max_bytes)) + "\u2026";
}

// Keeps the head and the tail of a very long output; the panic report stands at the end.
std::string bounded_output(std::string_view output) {
    if (output.size() <= output_keep_head + output_keep_tail) {
        return std::string(output);
    }
    const std::string_view head = text::utf8_prefix(output, output_keep_head);
    const std::string_view tail = text::utf8_suffix(output, output_keep_tail);
    return std::string(head) + "\n[... " +
           std::to_string(output.size() - head.size() - tail.size()) +
           " bytes of output left out ...]\n" + std::string(tail);
}

// The one-line summary of a failure: its message, or what the failure kind says.
std::string failure_summary(TestResultKind kind, const std::string& message,
                            std::chrono::nanoseconds time) {
    switch (kind) {
    case TestResultKind::FailedWithMessage:
        return message;
    case TestResultKind::TimeLimitExceeded:
        return "time limit exceeded (took " + seconds_3(time) + "s)";
    default:
        return message.empty() ? std::string("check failed") : message;
    }
}

std::string_view failure_type(TestResultKind kind) {
    return kind == TestResultKind::TimeLimitExceeded ? "time_limit_exceeded" : "panic";
}

struct CaseRecord {
    TestDesc desc;
    TestResult result; // earlier attempts with their outputs bounded
    std::chrono::nanoseconds time{0};
    std::string output;
    std::size_t order = 0; // position in the run, from the start events
    std::vector<std::chrono::nanoseconds> attempt_times{}; // of the earlier attempts
};

class JunitFormatter final : public OutputFormatter {
public:
    JunitFormatter(OutputLocation& out, const FormatterSettings& settings)
        : out_(out), settings_(settings) {}

    // List mode is the plain list, as in the pretty form.
    void write_discovery_start() override {}
    void write_test_discovered(const TestDesc& desc, bool is_bench) override {
        write_plain_discovered(out_, desc, is_bench);
    }
    void write_discovery_finish(const DiscoveryState& state) override {
        write_plain_discovery_finish(out_, state);
    }

    void write_run_start(std::size_t test_count, std::optional<std::uint64_t>) override {
        run_started_ = Clock::now();
        timestamp_ = std::chrono::system_clock::now();
        cases_.reserve(test_count);
    }

    void write_test_start(const TestDesc& desc) override {
        started_.insert_or_assign(std::string(desc.name), Start{Clock::now(), next_order_++});
    }

    // The document is written at the end; an overdue check is reported when it finishes.
    void write_timeout(const TestDesc& /*desc*/) override {}

    void write_result(const TestDesc& desc, const TestResult& result,
                      const std::optional<TestExecTime>& exec_time,
                      std::string_view stdout_bytes) override {
        // A check with no start event goes after those that had one, in completion order.
        CaseRecord record{desc, result, {}, {}, unstarted_order + cases_.size()};
        const auto start = started_.find(std::string(desc.name));
        if (start != started_.end()) {
            record.order = start->second.order;
            // Each attempt started when the one before it ended.
            Clock::time_point attempt_start = start->second.at;
            for (FailedAttempt& attempt : record.result.earlier_attempts) {
                record.attempt_times.push_back(
                    attempt.exec_time.value_or(attempt.ended - attempt_start));
                attempt_start = attempt.ended;
                attempt.stdout_bytes = bounded_output(attempt.stdout_bytes);
            }
            if (result.kind != TestResultKind::Ignored) {
                record.time = Clock::now() - attempt_start;
            }
            started_.erase(start);
        }
        if (exec_time) {
            record.time = exec_time->duration;
        }
        const bool keep_output =
            result.is_failure() ||
            (settings_.show_output &&
             (result.kind == TestResultKind::Passed || result.kind == TestResultKind::Measured));
        if (keep_output) {
            record.output = bounded_output(stdout_bytes);
        }
        cases_.push_back(std::move(record));
    }

    bool write_run_finish(const RunCounts& state) override {
        const std::chrono::nanoseconds suite_time =
            state.exec_time
                ? state.exec_time->duration
                : std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - run_started_);
        // Cases in the order the checks started, which is the run's order.
        std::stable_sort(
            cases_.begin(), cases_.end(),
            [](const CaseRecord& a, const CaseRecord& b) { return a.order < b.order; });

        const auto failures = std::count_if(cases_.begin(), cases_.end(), [](const CaseRecord& c) {
            return c.result.is_failure();
        });
        const auto skipped = std::count_if(cases_.begin(), cases_.end(), [](const CaseRecord& c) {
            return c.result.kind == TestResultKind::Ignored;
        });

        const std::string& name = settings_.suite_name;
        std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuite name=\"";
        append_xml_attribute(doc, name);
        doc += "\" tests=\"" + std::to_string(cases_.size()) + "\" failures=\"" +
               std::to_string(failures) + "\" errors=\"0\" skipped=\"" + std::to_string(skipped) +
               "\" time=\"" + seconds_3(suite_time) + "\" timestamp=\"" +
               utc_timestamp(timestamp_) + "\" hostname=\"";
        append_xml_attribute(doc, platform::host_name());
        doc += "\">\n";
        for (const auto& c : cases_) {
            append_case(doc, c, name);
        }
        doc += "</testsuite>\n";
        out_.write(doc);
        out_.flush();
        return state.succeeded();
    }

private:
    struct Start {
        Clock::time_point at;
        std::size_t order;
    };

    static void append_case(std::string& doc, const CaseRecord& c, std::string_view suite) {
        const std::string_view full = c.desc.name;
        const std::size_t split = full.rfind("::");
        const std::string_view classname =
            split == std::string_view::npos ? suite : full.substr(0, split);
        const std::string_view own_name =
            split == std::string_view::npos ? full : full.substr(split + 2);

        doc += "  <testcase classname=\"";
        append_xml_attribute(doc, classname);
        doc += "\" name=\"";
        append_xml_attribute(doc, own_name);
        doc += "\" time=\"" + seconds_3(c.time) + "\"";
        if (!c.desc.source_file.empty()) {
            doc += " file=\"";
            append_xml_attribute(doc, c.desc.source_file);
            doc += "\"";
            if (c.desc.start_line != 0) {
                doc += " line=\"" + std::to_string(c.desc.start_line) + "\"";
            }
        }

        switch (c.result.kind) {
        case TestResultKind::Failed:
        case TestResultKind::FailedWithMessage:
        case TestResultKind::TimeLimitExceeded: {
            doc += ">\n    <failure type=\"";
            doc += failure_type(c.result.kind);
            doc += "\" message=\"";
            append_xml_attribute(
                doc, one_line(failure_summary(c.result.kind, c.result.message, c.time)));
            doc += "\">";
            std::string body = c.output;
            if (c.result.kind == TestResultKind::FailedWithMessage) {
                body += "note: " + c.result.message;
            }
            append_xml_text(doc, body);
            doc += "</failure>\n";
            append_attempts(doc, c, "rerunFailure");
            doc += "  </testcase>\n";
            return;
        }
        case TestResultKind::Ignored:
            doc += "><skipped";
            if (c.desc.ignore_message) {
                doc += " message=\"";
                append_xml_attribute(doc, one_line(*c.desc.ignore_message));
                doc += "\"";
            }
            doc += "/></testcase>\n";
            return;
        case TestResultKind::Passed:
        case TestResultKind::Measured:
            if (c.output.empty() && c.result.earlier_attempts.empty()) {
                doc += "/>\n";
                return;
            }
            doc += ">\n";
            append_attempts(doc, c, "flakyFailure");
            if (!c.output.empty()) {
                doc += "    <system-out>";
                append_xml_text(doc, c.output);
                doc += "</system-out>\n";
            }
            doc += "  </testcase>\n";
            return;
        }
    }

    // The failed attempts before the result, as the elements rerun-aware readers know: each
    // with its type, message and time, and its output with the panic report as the trace.
    static void append_attempts(std::string& doc, const CaseRecord& c, std::string_view tag) {
        const auto& attempts = c.result.earlier_attempts;
        for (std::size_t i = 0; i < attempts.size(); ++i) {
            const FailedAttempt& attempt = attempts[i];
            const std::chrono::nanoseconds time =
                i < c.attempt_times.size() ? c.attempt_times[i] : std::chrono::nanoseconds(0);
            doc += "    <";
            doc += tag;
            doc += " type=\"";
            doc += failure_type(attempt.kind);
            doc += "\" message=\"";
            append_xml_attribute(doc,
                                 one_line(failure_summary(attempt.kind, attempt.message, time)));
            doc += "\" time=\"" + seconds_3(time) + "\"><stackTrace>";
            std::string body = attempt.stdout_bytes;
            if (attempt.kind == TestResultKind::FailedWithMessage) {
                body += "note: " + attempt.message;
            }
            append_xml_text(doc, body);
            doc += "</stackTrace></";
            doc += tag;
            doc += ">\n";
        }
    }

    OutputLocation& out_;
    FormatterSettings settings_;
    Clock::time_point run_started_ = Clock::now();
    std::chrono::system_clock::time_point timestamp_ = std::chrono::system_clock::now();
    std::unordered_map<std::string, Start> started_;
    std::size_t next_order_ = 0;
    std::vector<CaseRecord> cases_;
};

} // namespace

std::unique_ptr<OutputFormatter> make_junit_formatter(OutputLocation& out,
                                                      const FormatterSettings& settings) {
    return std::make_unique<JunitFormatter>(out, settings);
}

} // namespace runner
