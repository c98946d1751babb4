// A check that calls exit or quick_exit would end the process with whatever status it passed,
// often 0, and a run cut short would read as a pass. While a run is guarded, handlers registered
// with the C library end the process with status 101 instead, after naming the checks that were
// running. _exit and _Exit run no handlers and cannot be caught this way.
#pragma once

#include <cstddef>
#include <string_view>

namespace runner {

// Marks a check as running for as long as the mark lives, in a table that the exit handlers
// read from any thread without locks or allocation. The name must outlive the mark (check names
// are static texts).
class RunningCheckMark {
public:
    explicit RunningCheckMark(std::string_view name) noexcept;
    ~RunningCheckMark();
    RunningCheckMark(const RunningCheckMark&) = delete;
    RunningCheckMark& operator=(const RunningCheckMark&) = delete;

private:
    std::size_t slot_; // the table's size when it was full: the check is only counted
};

// Guards a run from its construction to its destruction (or, with `keep`, to the end of the
// process: checks abandoned by the run still run). Registers the handlers on first use; made and
// destroyed on the main thread only.
class ExitGuardScope {
public:
    ExitGuardScope();
    ~ExitGuardScope();
    ExitGuardScope(const ExitGuardScope&) = delete;
    ExitGuardScope& operator=(const ExitGuardScope&) = delete;

    bool keep = false;
};

} // namespace runner
