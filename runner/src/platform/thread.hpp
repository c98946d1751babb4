// Threads of the runner's own: started on a stack the runner keeps, joined once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace runner::platform {

// A mapped thread stack with a guard region below it.
struct StackRegion {
    void* mapping = nullptr; // the whole mapping, guard included; null for none
    std::size_t mapping_size = 0;
    std::size_t stack_size = 0; // the usable part, at the top of the mapping
};

// A started thread that can be joined once.
class Thread {
public:
    Thread() = default;
    Thread(Thread&& other) noexcept;
    Thread& operator=(Thread&& other) noexcept;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    // Detaches a thread that was never joined. Its stack then stays mapped for good: nothing
    // tells when the thread stops using it.
    ~Thread();

    // Waits for the thread to end; its stack goes back for later threads.
    void join();
    bool joinable() const { return started_; }

private:
    friend struct ThreadStarter;
    void detach() noexcept;

    unsigned long handle_ = 0;
    bool started_ = false;
    StackRegion stack_;
};

struct SpawnOutcome {
    enum class Status { Started, WouldBlock, Failed } status = Status::Failed;
    Thread thread;
    std::string error; // for Failed
};

// What a new thread runs: `run(arg)`, on a thread named `name` as far as the system allows.
// The starter owns it and keeps it until the thread has been joined.
struct ThreadEntry {
    void (*run)(void* arg) = nullptr;
    void* arg = nullptr;
    char name[16] = {}; // the system keeps at most 15 bytes of a name

    void set_name(std::string_view text);
};

// Starts `entry` on a new thread with a stack of at least `stack_size` bytes. WouldBlock when
// the process may not start more threads. Once threads have been joined, starting another
// allocates nothing and makes no system call beyond the thread's creation.
SpawnOutcome spawn_thread(ThreadEntry& entry, std::size_t stack_size);

// Unmaps the stacks kept for later threads: for when memory ran out.
void release_kept_stacks() noexcept;

} // namespace runner::platform
