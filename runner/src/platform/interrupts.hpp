// SIGINT, SIGTERM and SIGHUP as events of the main thread: while an InterruptWatch exists, the
// handler of each marks that a signal arrived, changes the event word (see futex.hpp) and writes
// the signal's number to a pipe, and does nothing else. The run loop watches the pipe, or the
// word, with everything else it waits for.
#pragma once

#include <optional>
#include <string>

namespace runner::platform {

class InterruptWatch {
public:
    // Installs the handlers. Throws std::system_error when the pipe cannot be made.
    InterruptWatch();
    // Puts back what the signals did before.
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // Readable when a signal has arrived.
    int fd() const { return read_fd_; }
    // The first signal received and not yet taken, without waiting.
    std::optional<int> take();
    // A signal has arrived since the watch began: for a loop too busy to wait on fd().
    static bool arrived();
    // Gives `signal` its default action again, so that a second one ends the process at once.
    static void restore_default(int signal);

private:
    int read_fd_ = -1;
    int write_fd_ = -1;
};

// "SIGTERM" for SIGTERM: the signal's abbreviation, or "signal N" when it has none.
std::string signal_name(int signal);

} // namespace runner::platform
