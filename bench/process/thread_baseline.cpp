// The least a runner can do with one thread per job: start and join a thread per job, at most
// WIDTH at a time, each doing the same work as a check of the compared registry.
// Usage: runner_thread_baseline [JOBS [WIDTH [SPIN]]]
//   JOBS  jobs to run (27);  WIDTH  threads at a time (the processor count);
//   SPIN  iterations of the busy checks' arithmetic per job (0: the thread returns at once).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "spin.hpp"

int main(int argc, char** argv) {
    const unsigned long jobs = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 27;
    const unsigned long width = argc > 2 ? std::strtoul(argv[2], nullptr, 10)
                                         : std::max(1U, std::thread::hardware_concurrency());
    const unsigned long spin = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 0;
    std::uint64_t sink = 0;
    unsigned long started = 0;
    while (started < jobs) {
        std::vector<std::thread> batch;
        std::vector<std::uint64_t> results(width);
        for (unsigned long i = 0; i < width && started < jobs; ++i, ++started) {
            batch.emplace_back([&results, i, spin] { results[i] = bench_spin(spin); });
        }
        for (auto& thread : batch) {
            thread.join();
        }
        for (const std::uint64_t result : results) {
            sink ^= result;
        }
    }
    return sink == 1 ? 1 : 0;
}
