// Threads started by a check: they write into the captured output of the thread that started
// them, and their failure reaches whoever joins them.
#include <optional>
#include <system_error>
#include <thread>

#include "check/failure.hpp"
#include "check/thread_context.hpp"
#include "runner/check.hpp"

namespace runner {

struct JoinHandle::State {
    std::thread thread;
    std::optional<Panic> failure; // written by the thread, read after join
    // What went wrong outside the body (the thread's own set-up failed); empty when nothing.
    char runner_failure[128] = {};
};

JoinHandle::JoinHandle() = default;
JoinHandle::JoinHandle(std::unique_ptr<State> state) : state_(std::move(state)) {}
JoinHandle::JoinHandle(JoinHandle&&) noexcept = default;
JoinHandle& JoinHandle::operator=(JoinHandle&& other) noexcept {
    if (this != &other) {
        if (state_ && state_->thread.joinable()) {
            state_->thread.join();
        }
        state_ = std::move(other.state_);
    }
    return *this;
}

JoinHandle::~JoinHandle() {
    if (state_ && state_->thread.joinable()) {
        state_->thread.join();
    }
}

bool JoinHandle::joinable() const {
    return state_ && (state_->thread.joinable() || state_->failure || state_->runner_failure[0]);
}

void JoinHandle::join() {
    if (!joinable()) {
        return;
    }
    if (state_->thread.joinable()) {
        state_->thread.join();
    }
    if (state_->runner_failure[0] != '\0') {
        const std::string what = state_->runner_failure;
        state_->runner_failure[0] = '\0';
        panic("error in the check runner: " + what);
    }
    if (state_->failure) {
        Panic failure = std::move(*state_->failure);
        state_->failure.reset();
        throw failure;
    }
}

JoinHandle spawn(std::function<void()> body) {
    auto state = std::make_unique<JoinHandle::State>();
    JoinHandle::State* raw = state.get();
    const detail::ThreadContext& starter = detail::this_thread();
    auto run = [raw, capture = starter.capture, check_name = starter.check_name,
                site = starter.check_site, body = std::move(body)]() noexcept {
        const detail::OwnThreadContext own;
        try {
            detail::enter_thread("<unnamed>", capture);
            detail::this_thread().check_name = check_name;
            detail::this_thread().check_site = site;
            raw->failure = detail::catch_failure(site, body);
        } catch (...) {
            detail::describe_runner_failure(raw->runner_failure);
        }
    };
    try {
        raw->thread = std::thread(run);
    } catch (const std::system_error& error) {
        if (error.code() != std::errc::resource_unavailable_try_again) {
            throw;
        }
        // The process may not start more threads: the body runs here, as the runner runs a
        // check on the calling thread when it cannot start one, in a thread state of its own.
        run();
    }
    return JoinHandle(std::move(state));
}

} // namespace runner
