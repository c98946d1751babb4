#include "run/exit_guard.hpp"

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "check/thread_context.hpp"
#include "platform/raw_output.hpp"

namespace runner {
namespace {

constexpr int failure_status = 101;

// One running check. The thread that claimed a slot alone writes it, under a sequence number
// that is odd while it writes; a reader takes the name only when the number was even and
// unchanged around its reads (names are static, so a name read is always readable). Every
// access is sequentially consistent, which orders the reads without fences (that the thread
// sanitizer cannot follow); a check start pays a few locked instructions for it.
struct Slot {
    std::atomic<std::uint32_t> sequence{0};
    std::atomic<const char*> data{nullptr}; // null: free
    std::atomic<std::size_t> size{0};
};

// More checks than this running at once are counted but not named.
constexpr std::size_t slot_count = 256;
constinit Slot slots[slot_count];
constinit std::atomic<std::size_t> unnamed_running{0};
constinit std::atomic<std::size_t> next_hint{0};

enum GuardState : int { Disarmed, Armed, Ending };
constinit std::atomic<int> guard_state{Disarmed};
bool handlers_registered = false; // main thread only

// Each registered handler runs on one exiting thread only (the C library hands every entry to
// the first thread that reaches it), so as many threads may end the process at once as there
// are copies.
constexpr int handler_copies = 16;

// Only calls that are safe while other threads hold any lock: write(2), atomics, plain reads.
using platform::flush_if_free;
using platform::write_fd;

void write_number(int fd, long long value) {
    char digits[24];
    std::size_t at = sizeof digits;
    const bool negative = value < 0;
    unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(value)
                                            : static_cast<unsigned long long>(value);
    do {
        digits[--at] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) {
        digits[--at] = '-';
    }
    write_fd(fd, digits + at, sizeof digits - at);
}

// The name in `slot`, or an empty view when it is free or keeps changing.
std::string_view read_slot(const Slot& slot) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::uint32_t before = slot.sequence.load();
        if (before % 2 != 0) {
            continue;
        }
        const char* const data = slot.data.load();
        const std::size_t size = slot.size.load();
        if (slot.sequence.load() == before) {
            return data == nullptr ? std::string_view() : std::string_view(data, size);
        }
    }
    return {};
}

[[noreturn]] void hold_forever() {
    for (;;) {
        ::pause();
    }
}

// Names the exiting check with its captured output (as a crash does), then every check that
// was running, and ends the process with the failure status.
[[noreturn]] void end_guarded_run(std::string_view call, int status, bool status_known) {
    flush_if_free(stdout);
    flush_if_free(stderr);
    const detail::ThreadContext& thread = detail::this_thread();
    const std::string_view own = thread.check_name;
    if (!own.empty()) {
        write_fd(STDOUT_FILENO, "\n---- ");
        write_fd(STDOUT_FILENO, own);
        write_fd(STDOUT_FILENO, " stdout ----\n");
        if (thread.capture) {
            write_fd(STDOUT_FILENO, thread.capture->unlocked_contents());
        }
        write_fd(STDOUT_FILENO, "\n");
        write_fd(STDERR_FILENO, "error: check ");
        write_fd(STDERR_FILENO, own);
        write_fd(STDERR_FILENO, " ended the process: ");
    } else {
        write_fd(STDERR_FILENO, "error: the process was ended while checks were running: ");
    }
    write_fd(STDERR_FILENO, call);
    if (status_known) {
        write_fd(STDERR_FILENO, "(");
        write_number(STDERR_FILENO, status);
        write_fd(STDERR_FILENO, ")");
    }
    write_fd(STDERR_FILENO, " was called; the run fails\nchecks running when the process ended:\n");
    bool any = false;
    for (const Slot& slot : slots) {
        const std::string_view name = read_slot(slot);
        if (!name.empty()) {
            write_fd(STDERR_FILENO, "    ");
            write_fd(STDERR_FILENO, name);
            write_fd(STDERR_FILENO, "\n");
            any = true;
        }
    }
    if (const std::size_t more = unnamed_running.load(); more > 0) {
        write_fd(STDERR_FILENO, any ? "    and " : "    ");
        write_number(STDERR_FILENO, static_cast<long long>(more));
        write_fd(STDERR_FILENO, any ? " more\n" : " checks\n");
    } else if (!any) {
        write_fd(STDERR_FILENO, "    none\n");
    }
    ::_exit(failure_status);
}

// Whether this thread ends the guarded run: the first to get here does; any later one waits for
// it to end the process; without a guarded run the exit goes on as usual.
void on_process_end(std::string_view call, int status, bool status_known) {
    int expected = Armed;
    if (guard_state.compare_exchange_strong(expected, Ending, std::memory_order_acq_rel)) {
        end_guarded_run(call, status, status_known);
    }
    if (expected == Ending) {
        hold_forever();
    }
}

void on_exit_called(int status, void* /*unused*/) {
    on_process_end("exit", status, true);
}

void on_quick_exit_called() {
    on_process_end("quick_exit", 0, false);
}

} // namespace

RunningCheckMark::RunningCheckMark(std::string_view name) noexcept : slot_(slot_count) {
    // An empty view may have no data, which would read as a free slot.
    const char* const data = name.data() != nullptr ? name.data() : "";
    const std::size_t first = next_hint.fetch_add(1, std::memory_order_relaxed);
    for (std::size_t k = 0; k < slot_count; ++k) {
        const std::size_t index = (first + k) % slot_count;
        Slot& slot = slots[index];
        std::uint32_t sequence = slot.sequence.load();
        if (sequence % 2 != 0 || slot.data.load() != nullptr ||
            !slot.sequence.compare_exchange_strong(sequence, sequence + 1)) {
            continue;
        }
        slot.data.store(data);
        slot.size.store(name.size());
        slot.sequence.store(sequence + 2);
        slot_ = index;
        return;
    }
    unnamed_running.fetch_add(1);
}

RunningCheckMark::~RunningCheckMark() {
    if (slot_ == slot_count) {
        unnamed_running.fetch_sub(1);
        return;
    }
    Slot& slot = slots[slot_];
    const std::uint32_t sequence = slot.sequence.load();
    slot.sequence.store(sequence + 1);
    slot.size.store(0);
    slot.data.store(nullptr);
    slot.sequence.store(sequence + 2);
}

ExitGuardScope::ExitGuardScope() {
    if (!handlers_registered) {
        handlers_registered = true;
        for (int copy = 0; copy < handler_copies; ++copy) {
            on_exit(&on_exit_called, nullptr);
            std::at_quick_exit(&on_quick_exit_called);
        }
    }
    guard_state.store(Armed, std::memory_order_release);
}

ExitGuardScope::~ExitGuardScope() {
    if (keep) {
        return;
    }
    // A check thread that is ending the process already: it ends it, with its report.
    int expected = Armed;
    if (!guard_state.compare_exchange_strong(expected, Disarmed, std::memory_order_acq_rel) &&
        expected == Ending) {
        hold_forever();
    }
}

} // namespace runner
