// The least a runner can do with one thread per job: start a thread per job, at most WIDTH at
// a time, starting the next as soon as one has finished, and join each. Each job does the
// same work as a check of the compared registry.
// Usage: runner_thread_baseline [JOBS [WIDTH [SPIN]]]
//   JOBS  jobs to run (27);  WIDTH  threads at a time (the processor count);
//   SPIN  iterations of the busy checks' arithmetic per job (0: the thread returns at once).
#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "spin.hpp"

int main(int argc, char** argv) {
    const unsigned long jobs = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 27;
    const unsigned long width = argc > 2 ? std::strtoul(argv[2], nullptr, 10)
                                         : std::max(1U, std::thread::hardware_concurrency());
    const unsigned long spin = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 0;

    std::mutex mutex;
    std::condition_variable ready;
    std::deque<unsigned long> finished; // slots whose thread has finished its job
    std::vector<std::thread> slots(width);
    std::vector<std::uint64_t> results(width);
    std::uint64_t sink = 0;
    const auto start = [&](unsigned long slot) {
        slots[slot] = std::thread([&, slot] {
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
        if (started < jobs) {
            start(slot);
            ++started;
        }
    }
    return sink == 1 ? 1 : 0;
}
