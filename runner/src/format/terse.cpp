// The terse form: the run-start line, one character per result in completion order, then the
// same failure sections and summary as the pretty form.
#include <chrono>
#include <string>

#include "format/formatter.hpp"
#include "format/pretty_sections.hpp"

namespace runner {
namespace {

// Progress characters per line before a line break.
constexpr std::size_t line_width = 88;

class TerseFormatter final : public TextFormatter {
public:
    TerseFormatter(OutputLocation& out, const FormatterSettings& settings)
        : TextFormatter(out, settings) {}

    void write_test_start(const TestDesc& /*desc*/) override {}

    void write_timeout(const TestDesc& desc) override {
        end_progress_line();
        write_overdue_notice(desc);
    }

    void write_result(const TestDesc& /*desc*/, const TestResult& result,
                      const std::optional<TestExecTime>& /*exec_time*/,
                      std::string_view /*stdout_bytes*/) override {
        switch (result.kind) {
        case TestResultKind::Passed:
            write_progress(".", Color::Green);
            break;
        case TestResultKind::Failed:
        case TestResultKind::FailedWithMessage:
        case TestResultKind::TimeLimitExceeded:
            write_progress("F", Color::Red);
            break;
        case TestResultKind::Ignored:
            write_progress("i", Color::Yellow);
            break;
        case TestResultKind::Measured:
            write_progress("b", Color::Cyan);
            break;
        }
        out_.flush();
    }

    bool write_run_finish(const RunCounts& counts) override {
        end_progress_line();
        return write_run_finish_sections(out_, counts, settings_.show_output, use_color_);
    }

private:
    void write_progress(std::string_view mark, Color color) {
        write_pretty(out_, mark, color, use_color_);
        if (++column_ == line_width) {
            out_.write("\n");
            column_ = 0;
        }
    }

    // Anything but a progress character starts on a line of its own.
    void end_progress_line() {
        if (column_ > 0) {
            out_.write("\n");
            column_ = 0;
        }
    }

    std::size_t column_ = 0;
};

} // namespace

std::unique_ptr<OutputFormatter> make_terse_formatter(OutputLocation& out,
                                                      const FormatterSettings& settings) {
    return std::make_unique<TerseFormatter>(out, settings);
}

} // namespace runner
