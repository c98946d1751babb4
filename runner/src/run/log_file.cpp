#include "run/log_file.hpp"

#include <cerrno>

#include "format/output_location.hpp"
#include "platform/platform.hpp"

namespace runner {

LogFile::LogFile(const std::string& path) : fd_(platform::create_file(path)) {
    if (fd_ < 0) {
        throw IoError::from_errno(-fd_);
    }
}

LogFile::~LogFile() {
    platform::close_file(fd_);
}

void LogFile::write_result(const TestDesc& desc, const TestResult& result,
                           const std::optional<TestExecTime>& time) {
    std::string line = log_line(desc, result, time);
    line.push_back('\n');
    if (const int error = platform::write_all(fd_, line); error != 0) {
        throw IoError::from_errno(error);
    }
}

std::string log_line(const TestDesc& desc, const TestResult& result,
                     const std::optional<TestExecTime>& time) {
    std::string line;
    switch (result.kind) {
    case TestResultKind::Passed:
        line = "ok";
        break;
    case TestResultKind::Failed:
        line = "failed";
        break;
    case TestResultKind::FailedWithMessage:
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
    return line;
}

} // namespace runner
