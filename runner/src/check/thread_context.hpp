// Per-thread state of the runner: the thread's name and number, and where its output goes.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "runner/check.hpp"

namespace runner::detail {

// The captured output of one check, shared with the threads the check starts.
class OutputCapture {
public:
    void append(std::string_view bytes);
    std::string contents() const;
    // Moves the bytes out, leaving the capture empty.
    std::string take();
    // For the crash path only: the bytes without taking the lock (the crashing thread may
    // hold it).
    const std::string& unlocked_contents() const { return bytes_; }

private:
    mutable std::mutex mutex_;
    std::string bytes_;
};

struct ThreadContext {
    std::string_view name = "<unnamed>"; // a static text: a check's name or a fixed word
    std::uint64_t id = 0;
    std::shared_ptr<OutputCapture> capture; // empty: the thread's output is not captured
    // The check this thread works for (its own, or the one of the thread that started it);
    // empty outside checks. Named in the report of a crash.
    std::string_view check_name;
    // Where that check is declared: the site of failures that are not the check's own panics.
    PanicLocation check_site;
};

// The calling thread's context; its number is given on first use (the first thread is 1).
ThreadContext& this_thread();

// Gives the calling thread a context of its own, without allocating, for as long as it exists:
// the first thing a thread the runner starts does.
class OwnThreadContext {
public:
    OwnThreadContext() noexcept;
    ~OwnThreadContext();
    OwnThreadContext(const OwnThreadContext&) = delete;
    OwnThreadContext& operator=(const OwnThreadContext&) = delete;

private:
    ThreadContext context_;
    ThreadContext* previous_;
};

// Gives the calling thread a name (a static text) and, optionally, an output capture.
void enter_thread(std::string_view name, std::shared_ptr<OutputCapture> capture);

// Routes std::cout, std::cerr and std::clog through the calling thread's capture. Installed
// before checks start and removed after the last one ends.
void install_stream_capture();
void remove_stream_capture();

// Uncaptured writes, straight to the process's standard streams.
void write_stdout(std::string_view bytes);
void write_stderr(std::string_view bytes);

} // namespace runner::detail
