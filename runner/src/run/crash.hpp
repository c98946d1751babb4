// When a check ends the whole process (std::terminate, abort, a fatal signal), its captured
// output would be lost with it: these handlers write it to standard output first.
#pragma once

#include <string_view>

namespace runner {

void install_crash_handlers();

namespace detail {
class OutputCapture;
}

// In a check's own process, where standard output and error go to the runner: a crash writes
// the check's captured output and then the cause (with a backtrace when SARNIVELLE_BACKTRACE is
// set), with nothing around them; SIGTERM, SIGINT and SIGHUP, which end the process when it
// runs too long or the run is interrupted, first write the captured output.
void install_check_process_handlers(std::string_view check_name,
                                    const detail::OutputCapture* capture);
// What the handlers of every check's process share, read once where the checks' processes are
// forked from: whether SARNIVELLE_BACKTRACE asks for backtraces, and when it does, what
// unwinding loads.
void prepare_check_process_handlers();

} // namespace runner
