#include "platform/platform.hpp"

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

namespace runner::platform {

struct ThreadStarter {
    static void adopt(Thread& thread, pthread_t handle) {
        thread.handle_ = handle;
        thread.started_ = true;
    }
};

namespace {
void* thread_main(void* arg) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
    (*body)();
    return nullptr;
}
} // namespace

Thread::Thread(Thread&& other) noexcept : handle_(other.handle_), started_(other.started_) {
    other.started_ = false;
}

Thread& Thread::operator=(Thread&& other) noexcept {
    if (this != &other) {
        if (started_) {
            pthread_detach(handle_);
        }
        handle_ = other.handle_;
        started_ = other.started_;
        other.started_ = false;
    }
    return *this;
}

Thread::~Thread() {
    if (started_) {
        pthread_detach(handle_);
    }
}

void Thread::join() {
    if (started_) {
        pthread_join(handle_, nullptr);
        started_ = false;
    }
}

SpawnOutcome spawn_thread(const std::string& name, std::size_t stack_size,
                          std::function<void()> body) {
    SpawnOutcome outcome;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    const auto minimum = static_cast<std::size_t>(PTHREAD_STACK_MIN);
    int rc = pthread_attr_setstacksize(&attr, stack_size < minimum ? minimum : stack_size);
    if (rc != 0) {
        // An unusable size (not a multiple of the page size on some systems): round it up.
        const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        const std::size_t rounded = (stack_size + page - 1) / page * page;
        rc = pthread_attr_setstacksize(&attr, rounded < minimum ? minimum : rounded);
    }
    if (rc != 0) {
        pthread_attr_destroy(&attr);
        outcome.error = std::strerror(rc);
        return outcome;
    }
    auto heap_body = std::make_unique<std::function<void()>>(std::move(body));
    pthread_t handle{};
    rc = pthread_create(&handle, &attr, &thread_main, heap_body.get());
    pthread_attr_destroy(&attr);
    if (rc == EAGAIN) {
        outcome.status = SpawnOutcome::Status::WouldBlock;
        return outcome;
    }
    if (rc != 0) {
        outcome.error = std::strerror(rc) + std::string(" (os error ") + std::to_string(rc) + ")";
        return outcome;
    }
    heap_body.release(); // the thread owns it now
    // The system keeps at most 15 bytes of a thread's name.
    pthread_setname_np(handle, name.substr(0, 15).c_str());
    ThreadStarter::adopt(outcome.thread, handle);
    outcome.status = SpawnOutcome::Status::Started;
    return outcome;
}

std::optional<std::size_t> available_parallelism() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) {
            return static_cast<std::size_t>(count);
        }
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    if (online > 0) {
        return static_cast<std::size_t>(online);
    }
    return std::nullopt;
}

bool stdout_is_terminal() {
    return isatty(STDOUT_FILENO) == 1;
}

} // namespace runner::platform
