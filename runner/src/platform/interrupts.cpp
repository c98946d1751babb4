#include "platform/interrupts.hpp"
#include "platform/futex.hpp"
#include "platform/platform.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <system_error>

namespace runner::platform {
namespace {

constexpr int watched[] = {SIGINT, SIGTERM, SIGHUP};

// The pipe the handler writes to; -1 while no watch exists.
volatile sig_atomic_t signal_pipe = -1;
std::atomic<bool> signal_arrived{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set in a signal handler");
struct sigaction previous[3];

void on_interrupt(int signal) {
    const int saved = errno;
    // The flag before the word: a thread that sees the word changed sees the flag set.
    signal_arrived.store(true);
    event_word.fetch_add(1);
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(signal_pipe, &byte, 1);
    errno = saved;
}

} // namespace

InterruptWatch::InterruptWatch() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe for signals");
    }
    read_fd_ = above_standard_streams(fds[0]);
    write_fd_ = above_standard_streams(fds[1]);
    if (read_fd_ < 0 || write_fd_ < 0) {
        const int error = errno;
        ::close(read_fd_);
        ::close(write_fd_);
        throw std::system_error(error, std::generic_category(), "pipe for signals");
    }
    signal_pipe = write_fd_;
    signal_arrived.store(false);
    struct sigaction action {};
    action.sa_handler = &on_interrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(watched); ++i) {
        sigaction(watched[i], &action, &previous[i]);
    }
}

InterruptWatch::~InterruptWatch() {
    for (std::size_t i = 0; i < std::size(watched); ++i) {
        sigaction(watched[i], &previous[i], nullptr);
    }
    signal_pipe = -1;
    ::close(read_fd_);
    ::close(write_fd_);
}

std::optional<int> InterruptWatch::take() {
    unsigned char byte = 0;
    ssize_t got = 0;
    do {
        got = ::read(read_fd_, &byte, 1);
    } while (got < 0 && errno == EINTR);
    if (got == 1) {
        return byte;
    }
    return std::nullopt;
}

bool InterruptWatch::arrived() {
    return signal_arrived.load();
}

void InterruptWatch::restore_default(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

std::string signal_name(int signal) {
    if (const char* abbreviation = ::sigabbrev_np(signal)) {
        return std::string("SIG") + abbreviation;
    }
    return "signal " + std::to_string(signal);
}

} // namespace runner::platform
