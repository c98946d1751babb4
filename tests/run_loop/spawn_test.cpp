// Threads a check starts when the process may not start any more: the body runs on the calling
// thread, and whatever it throws still reaches the joiner as a failure.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>

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
