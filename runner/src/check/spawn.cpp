// Threads started by a check: they write into the captured output of the thread that started
// them, and their failure reaches whoever joins them.
#include <exception>
#include <optional>
#include <thread>

#include "check/thread_context.hpp"
#include "runner/check.hpp"

namespace runner {

struct JoinHandle::State {
    std::thread thread;
    std::optional<Panic> failure; // written by the thread, read after join
};

JoinHandle::JoinHandle() = default;
JoinHandle::JoinHandle(std::unique_ptr<State> state) : state_(std::move(state)) {}
JoinHandle::JoinHandle(JoinHandle&&) noexcept = default;
JoinHandle& JoinHandle::operator=(JoinHandle&& other) noexcept {
    if (this != &other) {
        if (joinable()) {
            state_->thread.join();
        }
        state_ = std::move(other.state_);
    }
    return *this;
}

JoinHandle::~JoinHandle() {
    if (joinable()) {
        state_->thread.join();
    }
}

bool JoinHandle::joinable() const {
    return state_ && state_->thread.joinable();
}

void JoinHandle::join() {
    if (!joinable()) {
        return;
    }
    state_->thread.join();
    if (state_->failure) {
        Panic failure = std::move(*state_->failure);
        state_->failure.reset();
        throw failure;
    }
}

JoinHandle spawn(std::function<void()> body) {
    auto state = std::make_unique<JoinHandle::State>();
    JoinHandle::State* raw = state.get();
    std::shared_ptr<detail::OutputCapture> capture = detail::this_thread().capture;
    std::string check_name = detail::this_thread().check_name;
    raw->thread = std::thread([raw, capture = std::move(capture),
                               check_name = std::move(check_name), body = std::move(body)]() {
        detail::enter_thread("<unnamed>", capture);
        detail::this_thread().check_name = check_name;
        try {
            body();
        } catch (const Panic& failure) {
            raw->failure = failure;
        } catch (const std::exception& error) {
            try {
                panic(std::string("uncaught exception: ") + error.what());
            } catch (const Panic& failure) {
                raw->failure = failure;
            }
        }
    });
    return JoinHandle(std::move(state));
}

} // namespace runner
