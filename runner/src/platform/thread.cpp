#include "platform/thread.hpp"

#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace runner::platform {

struct ThreadStarter {
    static void adopt(Thread& thread, pthread_t handle, StackRegion stack) {
        thread.handle_ = handle;
        thread.started_ = true;
        thread.stack_ = stack;
    }
};

namespace {

void* thread_main(void* arg) {
    const ThreadEntry& entry = *static_cast<const ThreadEntry*>(arg);
    // Named from inside: one prctl, where naming from the starting thread writes a file in
    // /proc on the starter's time.
    pthread_setname_np(pthread_self(), entry.name);
    entry.run(entry.arg);
    return nullptr;
}

std::size_t page_size() {
    static const auto size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

// Below each stack: unmapped space that a runaway recursion hits, so that it faults instead
// of writing over other memory. Larger than the C library's one page, for frames that would
// step over a single page.
constexpr std::size_t guard_size = 64 * 1024;

// Stacks of joined threads, kept for the next ones. The C library frees most of the pages of a
// stack it allocated itself when the thread ends (a system call per thread), and the next
// thread on that stack faults them back in; a stack that the runner maps keeps its pages.
class StackPool {
public:
    // A stack with `stack_size` usable bytes (a whole number of pages); nothing when the memory
    // cannot be mapped.
    std::optional<StackRegion> take(std::size_t stack_size) {
        {
            const std::lock_guard lock(mutex_);
            while (!free_.empty()) {
                const StackRegion stack = free_.back();
                free_.pop_back();
                if (stack.stack_size == stack_size) {
                    return stack;
                }
                // Checks asked for another size: the kept stacks of the old size go.
                munmap(stack.mapping, stack.mapping_size);
            }
        }
        const std::size_t mapping_size = guard_size + stack_size;
        void* mapping = mmap(nullptr, mapping_size, PROT_NONE,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
        if (mapping == MAP_FAILED) {
            return std::nullopt;
        }
        if (mprotect(static_cast<char*>(mapping) + guard_size, stack_size,
                     PROT_READ | PROT_WRITE) != 0) {
            munmap(mapping, mapping_size);
            return std::nullopt;
        }
        return StackRegion{mapping, mapping_size, stack_size};
    }

    void release() noexcept {
        const std::lock_guard lock(mutex_);
        for (const StackRegion& stack : free_) {
            munmap(stack.mapping, stack.mapping_size);
        }
        free_.clear();
    }

    void give_back(const StackRegion& stack) noexcept {
        const std::lock_guard lock(mutex_);
        try {
            free_.push_back(stack);
        } catch (...) {
            munmap(stack.mapping, stack.mapping_size);
        }
    }

private:
    std::mutex mutex_;
    std::vector<StackRegion> free_;
};

// Never destroyed: threads may be joined while static objects are being destroyed.
StackPool& stack_pool() {
    static StackPool& pool = *new StackPool;
    return pool;
}

// `size` rounded up to whole pages, and to the least stack a thread may have.
std::size_t usable_stack_size(std::size_t size) {
    const auto minimum = static_cast<std::size_t>(PTHREAD_STACK_MIN);
    const std::size_t page = page_size();
    if (size < minimum) {
        size = minimum;
    }
    if (size > SIZE_MAX - guard_size - page) {
        size = SIZE_MAX - guard_size - page; // refused by mmap, then by the C library
    }
    return (size + page - 1) / page * page;
}

} // namespace

Thread::Thread(Thread&& other) noexcept
    : handle_(other.handle_), started_(other.started_), stack_(other.stack_) {
    other.started_ = false;
    other.stack_ = {};
}

Thread& Thread::operator=(Thread&& other) noexcept {
    if (this != &other) {
        detach();
        handle_ = other.handle_;
        started_ = other.started_;
        stack_ = other.stack_;
        other.started_ = false;
        other.stack_ = {};
    }
    return *this;
}

Thread::~Thread() {
    detach();
}

void Thread::detach() noexcept {
    if (started_) {
        pthread_detach(handle_);
        started_ = false;
        stack_ = {};
    }
}

void Thread::join() {
    if (started_) {
        pthread_join(handle_, nullptr);
        started_ = false;
        if (stack_.mapping != nullptr) {
            stack_pool().give_back(stack_);
            stack_ = {};
        }
    }
}

void release_kept_stacks() noexcept {
    stack_pool().release();
}

void ThreadEntry::set_name(std::string_view text) {
    const std::size_t length = text.copy(name, sizeof name - 1);
    name[length] = '\0';
}

SpawnOutcome spawn_thread(ThreadEntry& entry, std::size_t stack_size) {
    SpawnOutcome outcome;
    const std::size_t usable = usable_stack_size(stack_size);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    // A kept stack when there is one; else the C library allocates one (and refuses the thread
    // with a would-block error when it cannot).
    std::optional<StackRegion> stack = stack_pool().take(usable);
    int rc = 0;
    if (stack) {
        rc = pthread_attr_setstack(&attr, static_cast<char*>(stack->mapping) + guard_size,
                                   stack->stack_size);
    } else {
        rc = pthread_attr_setstacksize(&attr, usable);
    }
    if (rc != 0) {
        pthread_attr_destroy(&attr);
        if (stack) {
            stack_pool().give_back(*stack);
        }
        outcome.error = std::strerror(rc);
        return outcome;
    }
    pthread_t handle{};
    rc = pthread_create(&handle, &attr, &thread_main, &entry);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        if (stack) {
            stack_pool().give_back(*stack);
        }
        if (rc == EAGAIN) {
            outcome.status = SpawnOutcome::Status::WouldBlock;
            return outcome;
        }
        outcome.error = std::strerror(rc) + std::string(" (os error ") + std::to_string(rc) + ")";
        return outcome;
    }
    ThreadStarter::adopt(outcome.thread, handle, stack.value_or(StackRegion{}));
    outcome.status = SpawnOutcome::Status::Started;
    return outcome;
}

} // namespace runner::platform
