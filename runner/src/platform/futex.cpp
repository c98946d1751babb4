#include "platform/futex.hpp"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <ctime>
#include <type_traits>

#if defined(__SANITIZE_THREAD__)
#define SARNIVELLE_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define SARNIVELLE_THREAD_SANITIZER 1
#endif
#endif

namespace runner::platform {
namespace {

#ifdef SARNIVELLE_THREAD_SANITIZER
// ThreadSanitizer runs a signal's handler at its own next call, not when the signal interrupts a
// system call it does not know; a wait without a limit, which the kernel restarts after the
// signal, would sleep through it. Under it such a wait looks again this often.
constexpr std::chrono::milliseconds sanitizer_look_again{50};
#endif

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t) &&
                  std::atomic<std::uint32_t>::is_always_lock_free,
              "the kernel reads the atomic as a plain 32-bit word");

void* address(const std::atomic<std::uint32_t>& word) {
    return const_cast<std::atomic<std::uint32_t>*>(&word);
}

} // namespace

constinit std::atomic<std::uint32_t> event_word{0};

void futex_wait_until(const std::atomic<std::uint32_t>& word, std::uint32_t expected,
                      std::chrono::steady_clock::time_point deadline) noexcept {
#ifdef SARNIVELLE_THREAD_SANITIZER
    deadline = std::min(deadline, std::chrono::steady_clock::now() + sanitizer_look_again);
#endif
    if (deadline == std::chrono::steady_clock::time_point::max()) {
        // No timer to arm and cancel, which costs a virtual machine more than the wait itself.
        ::syscall(SYS_futex, address(word), FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG, expected,
                  nullptr, nullptr, FUTEX_BITSET_MATCH_ANY);
        return;
    }
    // The steady clock is CLOCK_MONOTONIC, which FUTEX_WAIT_BITSET takes as an absolute time.
    // A wait with a time limit ends with EINTR after a signal handler, even under SA_RESTART.
    const auto since_epoch = deadline.time_since_epoch();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(since_epoch);
    timespec until{};
    until.tv_sec = static_cast<std::time_t>(seconds.count());
    until.tv_nsec = static_cast<long>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch - seconds).count());
    ::syscall(SYS_futex, address(word), FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG, expected, &until,
              nullptr, FUTEX_BITSET_MATCH_ANY);
}

void futex_wake_all(const std::atomic<std::uint32_t>& word) noexcept {
    ::syscall(SYS_futex, address(word), FUTEX_WAKE | FUTEX_PRIVATE_FLAG, INT_MAX, nullptr, nullptr,
              0);
}

} // namespace runner::platform
