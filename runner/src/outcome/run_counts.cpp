#include "run/console_state.hpp"

#include <cerrno>

#include "format/output_location.hpp"
#include "run/log_file.hpp"

namespace runner {

LogFile::LogFile(const std::string& path) : file_(std::fopen(path.c_str(), "w")) {
    if (file_ == nullptr) {
        throw IoError::from_errno(errno);
    }
}

LogFile::~LogFile() {
    std::fclose(file_);
}

void LogFile::write_line(std::string_view line) {
    std::string text(line);
    text.push_back('\n');
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fflush(file_) != 0) {
        throw IoError::from_errno(errno);
    }
}

ConsoleTestState::ConsoleTestState(const TestOpts& opts) : options(&opts) {
    if (opts.logfile) {
        log_out = std::make_unique<LogFile>(*opts.logfile);
    }
}

ConsoleTestState::~ConsoleTestState() = default;
ConsoleTestState::ConsoleTestState(ConsoleTestState&&) noexcept = default;
ConsoleTestState& ConsoleTestState::operator=(ConsoleTestState&&) noexcept = default;

void ConsoleTestState::write_log_result(const TestDesc& desc, const TestResult& result,
                                        const std::optional<TestExecTime>& time) {
    if (!log_out) {
        return;
    }
    std::string line;
    switch (result.kind) {
    case TestResultKind::Passed:
        line = "ok";
        break;
    case TestResultKind::Failed:
        line = "failed";
        break;
    case TestResultKind::FailedWithMessage:
        // One line per outcome: the message's own line breaks are written as "\n".
        line = "failed: ";
        for (const char c : result.message) {
            if (c == '\n') {
                line += "\\n";
            } else {
                line.push_back(c);
            }
        }
        break;
    case TestResultKind::Ignored:
        line = desc.ignore_message ? "ignored: " + std::string(*desc.ignore_message) : "ignored";
        break;
    case TestResultKind::Measured:
        line = "bench";
        break;
    case TestResultKind::TimeLimitExceeded:
        line = "failed (time limit exceeded)";
        break;
    }
    line += ' ';
    line += desc.name;
    if (time) {
        line += " <" + time->to_string() + ">";
    }
    log_out->write_line(line);
}

void ConsoleTestState::count(const CompletedTest& completed) {
    const TestResult& result = completed.result;
    switch (result.kind) {
    case TestResultKind::Passed:
        ++passed;
        not_failures.emplace_back(completed.desc, completed.stdout_bytes);
        break;
    case TestResultKind::Ignored:
        ++ignored;
        ignores.push_back(completed.desc);
        break;
    case TestResultKind::Measured:
        ++measured;
        metrics[std::string(completed.desc.name)] =
            Metric{result.bench.median_ns, result.bench.deviation_ns};
        break;
    case TestResultKind::Failed:
        ++failed;
        failures.emplace_back(completed.desc, completed.stdout_bytes);
        break;
    case TestResultKind::FailedWithMessage:
        ++failed;
        failures.emplace_back(completed.desc, completed.stdout_bytes + "note: " + result.message);
        break;
    case TestResultKind::TimeLimitExceeded:
        ++failed;
        time_failures.emplace_back(completed.desc, completed.stdout_bytes);
        break;
    }
}

} // namespace runner
