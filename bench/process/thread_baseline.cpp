// The least a runner can do with one thread per job: start a thread per job, at most WIDTH at
// a time, starting the next as soon as one has finished, and join each. Each job does the
// same work as a check of the compared registry.
// Usage: runner_thread_baseline [JOBS [WIDTH [SPIN [CALLS]]]]
//   JOBS  jobs to run (27);  WIDTH  threads at a time (the processor count);
//   SPIN  iterations of the busy checks' arithmetic per job (0: the thread returns at once);
//   CALLS 1: also make the system calls that a check runner cannot leave out: each thread
//         names itself and installs an alternate signal stack, and each finished job writes
//         one line to standard output (0: none).
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "spin.hpp"

int main(int argc, char** argv) {
    const unsigned long jobs = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 27;
    const unsigned long width = argc > 2 ? std::strtoul(argv[2], nullptr, 10)
                                         : std::max(1U, std::thread::hardware_concurrency());
    const unsigned long spin = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 0;
    const bool calls = argc > 4 && std::strtoul(argv[4], nullptr, 10) == 1;
    constexpr std::size_t signal_stack_size = 64 * 1024;
    const auto signal_stacks = std::make_unique<char[]>(width * signal_stack_size);
    constexpr char line[] = "test trivial::tests::check_1 ... ok\n";

    std::mutex mutex;
    std::condition_variable ready;
    std::deque<unsigned long> finished; // slots whose thread has finished its job
    std::vector<std::thread> slots(width);
    std::vector<std::uint64_t> results(width);
    std::uint64_t sink = 0;
    const auto start = [&](unsigned long slot) {
        slots[slot] = std::thread([&, slot] {
            if (calls) {
                prctl(PR_SET_NAME, "trivial::tests:", 0, 0, 0);
                stack_t stack{};
                stack.ss_sp = signal_stacks.get() + slot * signal_stack_size;
                stack.ss_size = signal_stack_size;
                sigaltstack(&stack, nullptr);
            }
            results[slot] = bench_spin(spin);
            {
                const std::lock_guard lock(mutex);
                finished.push_back(slot);
            }
            ready.notify_one();
        });
    };

    unsigned long started = 0;
    for (; started < std::min(width, jobs); ++started) {
        start(started);
    }
    for (unsigned long done = 0; done < jobs; ++done) {
        unsigned long slot = 0;
        {
            std::unique_lock lock(mutex);
            ready.wait(lock, [&] { return !finished.empty(); });
            slot = finished.front();
            finished.pop_front();
        }
        slots[slot].join();
        sink ^= results[slot];
        if (calls && write(STDOUT_FILENO, line, sizeof line - 1) < 0) {
            return 2;
        }
        if (started < jobs) {
            start(slot);
            ++started;
        }
    }
    return sink == 1 ? 1 : 0;
}
