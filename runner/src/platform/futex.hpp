// A 32-bit word that one thread sleeps on until another changes it: the waiting half of a
// condition variable, without the mutex, and with a wait that a signal handler ends.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace runner::platform {

// Sleeps while `word` still holds `expected`, until woken, until `deadline` (on the steady
// clock) or until a signal handler has run on the calling thread, whichever is first. Returns at
// once when the word has already changed. Spurious returns are possible: the caller looks again.
void futex_wait_until(const std::atomic<std::uint32_t>& word, std::uint32_t expected,
                      std::chrono::steady_clock::time_point deadline) noexcept;

// Wakes every thread sleeping on `word`.
void futex_wake_all(const std::atomic<std::uint32_t>& word) noexcept;

} // namespace runner::platform
