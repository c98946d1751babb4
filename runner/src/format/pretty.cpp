// The default, human-readable report.
#include <memory>
#include <string>

#include "format/pretty_sections.hpp"

namespace runner {
namespace {

class PrettyFormatter final : public TextFormatter {
public:
    PrettyFormatter(OutputLocation& out, const FormatterSettings& settings)
        : TextFormatter(out, settings) {
        // Room for the longest head before any check runs: reporting a passing check then
        // allocates nothing, even when the checks have taken all the memory there is.
        head_.reserve(settings.max_name_len + 32);
    }

    void write_test_start(const TestDesc& desc) override {
        // One check at a time: the head stands alone while the check runs, so a check that
        // hangs shows its name.
        if (!settings_.is_multithreaded) {
            write_test_name(desc, false);
            out_.flush();
        }
    }

    void write_timeout(const TestDesc& desc) override { write_overdue_notice(desc); }

    void write_result(const TestDesc& desc, const TestResult& result,
                      const std::optional<TestExecTime>& exec_time, std::string_view) override {
        if (settings_.is_multithreaded) {
            write_test_name(desc, result.kind == TestResultKind::Measured);
        }
        switch (result.kind) {
        case TestResultKind::Passed:
            write_pretty(out_, "ok", Color::Green, use_color_);
            if (result.is_flaky()) {
                write_pretty(out_,
                             " (flaky: passed on attempt " + std::to_string(result.attempt()) +
                                 " of " + std::to_string(settings_.max_attempts) + ")",
                             Color::Yellow, use_color_);
            }
            break;
        case TestResultKind::Failed:
        case TestResultKind::FailedWithMessage:
            write_pretty(out_, "FAILED", Color::Red, use_color_);
            break;
        case TestResultKind::Ignored:
            if (desc.ignore_message) {
                write_pretty(out_, "ignored, " + std::string(*desc.ignore_message), Color::Yellow,
                             use_color_);
            } else {
                write_pretty(out_, "ignored", Color::Yellow, use_color_);
            }
            break;
        case TestResultKind::Measured:
            write_pretty(out_, "bench", Color::Cyan, use_color_);
            out_.write(": " + bench_summary(result.bench));
            break;
        case TestResultKind::TimeLimitExceeded:
            write_pretty(out_, "FAILED (time limit exceeded)", Color::Red, use_color_);
            break;
        }
        if (result.is_failure() && !result.earlier_attempts.empty()) {
            out_.write(" (all " + std::to_string(result.attempt()) + " attempts failed)");
        }
        write_time(desc, exec_time);
        out_.write("\n");
        out_.flush();
    }

    bool write_run_finish(const RunCounts& counts) override {
        return write_run_finish_sections(out_, counts, settings_.show_output, use_color_);
    }

private:
    void write_test_name(const TestDesc& desc, bool is_bench) {
        // Built in one buffer that is kept between lines, and written at once.
        head_.assign("test ");
        head_.append(desc.name);
        if (is_bench && desc.name.size() < settings_.max_name_len) {
            head_.append(settings_.max_name_len - desc.name.size(), ' ');
        }
        if (!desc.ignore) {
            if (desc.should_panic.kind != ShouldPanicKind::No) {
                head_.append(" - should panic");
            } else if (desc.compile_fail) {
                head_.append(" - compile fail");
            } else if (desc.no_run) {
                head_.append(" - compile");
            }
        }
        head_.append(" ... ");
        out_.write(head_);
    }

    void write_time(const TestDesc& desc, const std::optional<TestExecTime>& exec_time) {
        if (!settings_.time_options || !exec_time) {
            return;
        }
        const TestTimeOptions& limits = *settings_.time_options;
        out_.write(" <");
        const std::string text = exec_time->to_string();
        if (use_color_ && limits.is_critical(desc.test_type, exec_time->duration)) {
            write_pretty(out_, text, Color::Red, true);
        } else if (use_color_ && limits.is_warn(desc.test_type, exec_time->duration)) {
            write_pretty(out_, text, Color::Yellow, true);
        } else {
            out_.write(text);
        }
        out_.write(">");
    }

    std::string head_;
};

} // namespace

std::unique_ptr<OutputFormatter> make_pretty_formatter(OutputLocation& out,
                                                       const FormatterSettings& settings) {
    return std::make_unique<PrettyFormatter>(out, settings);
}

} // namespace runner
