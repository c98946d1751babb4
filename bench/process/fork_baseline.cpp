// The least a runner can do with one process per job: a small single-threaded process forks a
// child per job, at most WIDTH at a time, starting the next as soon as one has ended, and
// waits for each. Each child does the job and ends with _exit. The process holds about 4 MiB, as
// a check executable does when it starts its checks: what a fork copies grows with it.
// Usage: runner_fork_baseline [JOBS [WIDTH [SPIN [HELD_KIB]]]]
//   JOBS  jobs to run (27);  WIDTH  children at a time (2);
//   SPIN  iterations of the busy checks' arithmetic per job (0: the child ends at once);
//   HELD_KIB  memory the process writes before it forks (3072, on top of its own ~1 MiB).
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "jobs.hpp"
#include "spin.hpp"

int main(int argc, char** argv) {
    const unsigned long jobs = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 27;
    const unsigned long width = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 2;
    const unsigned long spin = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 0;
    const unsigned long held_kib = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 3072;
    std::vector<char> held(held_kib * 1024, 1);
    const long failures = run_jobs(jobs, width, [&](unsigned long) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::_exit(bench_spin(spin) == 1 || held[0] != 1 ? 1 : 0);
        }
        return pid;
    });
    return failures < 0 ? 2 : 0;
}
