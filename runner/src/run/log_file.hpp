// The log file of --logfile: one line per counted outcome.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "outcome/test_result.hpp"

namespace runner {

class LogFile {
public:
    // Creates or truncates the file, on a descriptor above standard error; throws IoError.
    explicit LogFile(const std::string& path);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Writes the line of one outcome: "ok name", "failed: message name <0.001s>", ...; throws
    // IoError.
    void write_result(const TestDesc& desc, const TestResult& result,
                      const std::optional<TestExecTime>& time);

private:
    int fd_;
};

// The log line of one outcome, without its line end. Line breaks of a failure message are
// written as "\n", so that each outcome takes one line.
std::string log_line(const TestDesc& desc, const TestResult& result,
                     const std::optional<TestExecTime>& time);

} // namespace runner
