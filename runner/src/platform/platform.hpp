// What the runner needs of the operating system.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace runner::platform {

// A started thread that can be joined once.
class Thread {
public:
    Thread() = default;
    Thread(Thread&& other) noexcept;
    Thread& operator=(Thread&& other) noexcept;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    ~Thread(); // detaches a thread that was never joined

    void join();
    bool joinable() const { return started_; }

private:
    friend struct ThreadStarter;
    unsigned long handle_ = 0;
    bool started_ = false;
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

// Starts `entry` on a new thread with the given stack size. WouldBlock when the process may not
// start more threads. Allocates nothing on either thread unless starting fails.
SpawnOutcome spawn_thread(ThreadEntry& entry, std::size_t stack_size);

// Processors available to this process (affinity mask), or nothing when unknown.
std::optional<std::size_t> available_parallelism();

bool stdout_is_terminal();

// Files the runner opens never take descriptors 0 to 2: with a standard stream closed, a file
// opened on its number would receive what is meant for that stream.

// Creates or truncates a file for writing; its descriptor, or minus the error number.
int create_file(const std::string& path);
void close_file(int fd);
// Writes all of `bytes`; 0, or the error number.
int write_all(int fd, std::string_view bytes);

} // namespace runner::platform
