// A 32-bit word that one thread sleeps on until another changes it: the waiting half of a
// condition variable, without the mutex, and with a wait that a signal handler ends.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace runner::platform {

// Sleeps while `word` still holds `expected`, until woken or until `deadline` (on the steady
// clock; the largest time point waits without a limit). Returns at once when the word has
// already changed. A signal handler on the calling thread ends a wait with a limit; one without
// resumes unless the handler changed the word. Spurious returns are possible: the caller looks
// again.
void futex_wait_until(const std::atomic<std::uint32_t>& word, std::uint32_t expected,
                      std::chrono::steady_clock::time_point deadline) noexcept;

// Wakes every thread sleeping on `word`.
void futex_wake_all(const std::atomic<std::uint32_t>& word) noexcept;

// The word a thread that waits for check results sleeps on. Every result sent changes it, and so
// does the handler of an interrupting signal (InterruptWatch): a thread that read it before it
// looked for results and signals sleeps only while neither has come since. One per process, as
// the signal handler must reach it.
extern std::atomic<std::uint32_t> event_word;

} // namespace runner::platform
