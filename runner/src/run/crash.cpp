#include "run/crash.hpp"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <execinfo.h>
#include <unistd.h>

#include "check/thread_context.hpp"
#include "platform/environment.hpp"
#include "platform/raw_output.hpp"

namespace runner {
namespace {

std::atomic<bool> crash_reported{false};

// Set in a check's own process (install_check_process_handlers).
struct CheckProcess {
    bool active = false;
    std::string_view name;
    const detail::OutputCapture* capture = nullptr;
    bool backtrace = false;
};
CheckProcess check_process;

// Only async-signal-safe calls from here on: write(2) and plain memory reads.
using platform::write_fd;

const char* signal_name(int signal) {
    switch (signal) {
    case SIGSEGV:
        return "SIGSEGV: invalid memory reference";
    case SIGBUS:
        return "SIGBUS: access to undefined memory";
    case SIGFPE:
        return "SIGFPE: erroneous arithmetic operation";
    case SIGILL:
        return "SIGILL: illegal instruction";
    case SIGABRT:
        return "SIGABRT: process abort";
    default:
        return "fatal signal";
    }
}

// Writes the crashing check's name and captured output to standard output, and the cause to
// standard error, once per process.
void report_crash(const char* cause) {
    if (crash_reported.exchange(true)) {
        return;
    }
    if (check_process.active) {
        if (check_process.capture != nullptr) {
            const std::string& bytes = check_process.capture->unlocked_contents();
            write_fd(STDOUT_FILENO, bytes.data(), bytes.size());
        }
        if (cause == nullptr) {
            return;
        }
        write_fd(STDERR_FILENO, "\nerror: check ");
        write_fd(STDERR_FILENO, check_process.name.data(), check_process.name.size());
        write_fd(STDERR_FILENO, " ended the process: ");
        write_fd(STDERR_FILENO, cause);
        write_fd(STDERR_FILENO, "\n");
        if (check_process.backtrace) {
            void* frames[64];
            const int count = ::backtrace(frames, 64);
            write_fd(STDERR_FILENO, "stack backtrace:\n");
            ::backtrace_symbols_fd(frames, count, STDERR_FILENO);
        }
        return;
    }
    const detail::ThreadContext& thread = detail::this_thread();
    if (thread.check_name.empty()) {
        return;
    }
    const std::string_view name = thread.check_name;
    write_fd(STDOUT_FILENO, "\n---- ");
    write_fd(STDOUT_FILENO, name.data(), name.size());
    write_fd(STDOUT_FILENO, " stdout ----\n");
    if (thread.capture) {
        const std::string& bytes = thread.capture->unlocked_contents();
        write_fd(STDOUT_FILENO, bytes.data(), bytes.size());
    }
    write_fd(STDOUT_FILENO, "\n");
    write_fd(STDERR_FILENO, "error: check ");
    write_fd(STDERR_FILENO, name.data(), name.size());
    write_fd(STDERR_FILENO, " ended the process: ");
    write_fd(STDERR_FILENO, cause);
    write_fd(STDERR_FILENO, "\n");
}

void on_fatal_signal(int signal) {
    const bool ends_on_request = signal == SIGTERM || signal == SIGINT || signal == SIGHUP;
    report_crash(ends_on_request ? nullptr : signal_name(signal));
    // The handler was installed to run once: the signal now takes its default action.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void on_terminate() {
    std::fflush(stdout);
    report_crash("std::terminate was called");
    std::signal(SIGABRT, SIG_DFL);
    std::abort();
}

} // namespace

void install_crash_handlers() {
    struct sigaction action {};
    action.sa_handler = &on_fatal_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = static_cast<int>(SA_ONSTACK | SA_RESETHAND);
    for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
        sigaction(signal, &action, nullptr);
    }
    std::set_terminate(&on_terminate);
}

namespace {

using platform::flush_if_free;

// A check that calls exit or quick_exit in its own process: what it wrote and why the process
// ended go to the runner, which reports the check as failed with the status it exited with.
void on_check_process_exit(int status, void* /*unused*/) {
    flush_if_free(stdout);
    flush_if_free(stderr);
    char cause[48] = "exit(";
    std::size_t at = std::strlen(cause);
    char digits[12];
    std::size_t count = 0;
    unsigned magnitude =
        status < 0 ? 0U - static_cast<unsigned>(status) : static_cast<unsigned>(status);
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (status < 0) {
        cause[at++] = '-';
    }
    while (count > 0) {
        cause[at++] = digits[--count];
    }
    std::memcpy(cause + at, ") was called", sizeof ") was called");
    report_crash(cause);
    // Static destructors would run while the check's thread and the process's main thread
    // still use what they destroy.
    ::_exit(status);
}

void on_check_process_quick_exit() {
    flush_if_free(stdout);
    flush_if_free(stderr);
    report_crash("quick_exit was called");
}

} // namespace

void prepare_check_process_handlers() {
    const char* backtrace = std::getenv(platform::env_variable("SARNIVELLE_BACKTRACE").name.data());
    check_process.backtrace = backtrace != nullptr && std::strcmp(backtrace, "0") != 0;
    if (check_process.backtrace) {
        // The first call loads what unwinding needs, which a signal handler may not do.
        void* frame = nullptr;
        ::backtrace(&frame, 1);
    }
}

void install_check_process_handlers(std::string_view check_name,
                                    const detail::OutputCapture* capture) {
    check_process.name = check_name;
    check_process.capture = capture;
    check_process.active = true;
    install_crash_handlers();
    on_exit(&on_check_process_exit, nullptr);
    std::at_quick_exit(&on_check_process_quick_exit);
    struct sigaction action {};
    action.sa_handler = &on_fatal_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = static_cast<int>(SA_ONSTACK | SA_RESETHAND);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
}

} // namespace runner
