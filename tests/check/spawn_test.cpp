// Threads: the runner's own check threads (named, on kept stacks with a guard below), and those
// a check starts when the process may not start any more (the body runs on the calling thread,
// and whatever it throws still reaches the joiner as a failure).
#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/thread.hpp"
#include "runner/check.hpp"

namespace {

// Bytes of address space the process uses now.
rlim_t address_space_in_use() {
    std::ifstream statm("/proc/self/statm");
    unsigned long pages = 0;
    statm >> pages;
    return static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
}

// In a child process whose address space leaves no room for another thread's stack.
int in_child_without_room_for_a_thread(int (*body)()) {
    const pid_t pid = fork();
    if (pid == 0) {
        const rlim_t limit = address_space_in_use() + 2 * 1024 * 1024;
        const rlimit tight{limit, limit};
        if (setrlimit(RLIMIT_AS, &tight) != 0) {
            _exit(90);
        }
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

constexpr std::uint64_t stack_marker = 0x5354'4143'4b4d'4152;

// What a started thread saw of itself.
struct SeenByThread {
    std::uint64_t found_at_stack_bottom = 0; // what an earlier thread may have left there
    std::uintptr_t stack_low = 0;
    std::size_t stack_size = 0;
    char name[16] = {};
};

// The permissions ("rw-p", "---p", ...) of the mapping that holds `address`; empty if none.
std::string permissions_at(std::uintptr_t address) {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        std::istringstream fields(line);
        std::uintptr_t low = 0;
        std::uintptr_t high = 0;
        char dash = 0;
        std::string permissions;
        fields >> std::hex >> low >> dash >> high >> permissions;
        if (low <= address && address < high) {
            return permissions;
        }
    }
    return "";
}

// A check's thread gets its name and at least the stack asked for. Below the stack lies
// memory it cannot touch, so a runaway recursion faults instead of writing into a neighbour;
// and once joined, its stack serves the next thread of that size with its pages still mapped.
TEST(CheckThread, named_on_a_guarded_stack_that_the_next_thread_reuses) {
    using runner::platform::SpawnOutcome;
    const auto run = [](std::size_t stack_size) {
        SeenByThread seen;
        runner::platform::ThreadEntry entry;
        entry.set_name("height::tests::a_long_check_name");
        entry.arg = &seen;
        entry.run = [](void* arg) {
            auto& self = *static_cast<SeenByThread*>(arg);
            pthread_attr_t attributes;
            pthread_getattr_np(pthread_self(), &attributes);
            void* low = nullptr;
            pthread_attr_getstack(&attributes, &low, &self.stack_size);
            pthread_attr_destroy(&attributes);
            self.stack_low = reinterpret_cast<std::uintptr_t>(low);
            volatile auto* bottom = static_cast<volatile std::uint64_t*>(low);
            self.found_at_stack_bottom = *bottom;
            *bottom = stack_marker;
            pthread_getname_np(pthread_self(), self.name, sizeof self.name);
        };
        SpawnOutcome spawned = runner::platform::spawn_thread(entry, stack_size);
        EXPECT_EQ(spawned.status, SpawnOutcome::Status::Started) << spawned.error;
        spawned.thread.join();
        // Kept for the next thread, still mapped.
        EXPECT_EQ(permissions_at(seen.stack_low - 1), "---p");
        EXPECT_EQ(permissions_at(seen.stack_low), "rw-p");
        return seen;
    };
    // Room for the thread's static TLS, which is large under the sanitizers.
    constexpr std::size_t size = 2 * 1024 * 1024;
    const SeenByThread first = run(size);
    const SeenByThread again = run(size);
    const SeenByThread larger = run(size + 1);
    for (const SeenByThread& seen : {first, again, larger}) {
        EXPECT_STREQ(seen.name, "height::tests::");
    }
    EXPECT_GE(first.stack_size, size);
    EXPECT_EQ(first.found_at_stack_bottom, 0u);
    EXPECT_EQ(again.stack_low, first.stack_low);
    EXPECT_EQ(again.found_at_stack_bottom, stack_marker);
    EXPECT_EQ(larger.found_at_stack_bottom, 0u);
    EXPECT_GT(larger.stack_size, size);
}

TEST(Spawn, runs_the_body_on_the_calling_thread_when_no_thread_can_start) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit leaves";
#endif
    EXPECT_EQ(in_child_without_room_for_a_thread([] {
                  const std::thread::id caller = std::this_thread::get_id();
                  std::thread::id ran_on;
                  runner::spawn([&ran_on] { ran_on = std::this_thread::get_id(); }).join();
                  return ran_on == caller ? 0 : 1;
              }),
              0);
    EXPECT_EQ(in_child_without_room_for_a_thread([] {
                  // A handle dropped without a join keeps its failure to itself.
                  {
                      const runner::JoinHandle dropped = runner::spawn([] { throw 8; });
                  }
                  runner::JoinHandle worker = runner::spawn([] { throw 7; });
                  try {
                      worker.join();
                  } catch (const runner::Panic& failure) {
                      return failure.payload().is_text() ? 2 : 0;
                  }
                  return 1;
              }),
              0);
}

} // namespace
