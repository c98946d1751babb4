// The record in which a check's process sends its completed result to the runner: binary, with
// a version, so that the runner never reads report text.
//
//   "SRNV"                    4 bytes
//   version                   u16 (1)
//   outcome kind              u8 (TestResultKind, Passed = 0 ... TimeLimitExceeded = 5)
//   execution time present    u8 (0 or 1)
//   backtrace note shown      u8 (0 or 1): the check's process showed the run's one note on
//                             how to see a backtrace
//   execution time            i64 nanoseconds (0 when absent)
//   benchmark median, spread  f64, f64 (nanoseconds)
//   message                   u64 length, then the bytes
//   captured output           u64 length, then the bytes
//
// Integers and floats in the machine's own byte order: both ends are the same executable.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "outcome/test_result.hpp"

namespace runner::process {

struct ResultRecord {
    TestResult result;
    std::optional<TestExecTime> exec_time;
    std::string output;
    bool note_shown = false;
};

std::string encode_record(const ResultRecord& record);
// The size of the record that `bytes` begins, once enough of it has arrived to tell; nothing
// before that, or when `bytes` cannot begin a record of this version.
std::optional<std::size_t> record_size(std::string_view bytes);
// Nothing when `bytes` is not exactly one well-formed record of this version.
std::optional<ResultRecord> decode_record(std::string_view bytes);

} // namespace runner::process
