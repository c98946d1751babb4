// The log file of --logfile: one line per counted outcome.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace runner {

class LogFile {
public:
    // Creates or truncates the file; throws IoError.
    explicit LogFile(const std::string& path);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Writes one line and flushes it; throws IoError.
    void write_line(std::string_view line);

private:
    std::FILE* file_;
};

} // namespace runner
