// The bare programs' loop: one child process per job, at most `width` at a time, the next
// started as soon as one has ended.
#pragma once

#include <sys/types.h>
#include <sys/wait.h>

// Runs `jobs` jobs; `start(job)` starts job number `job` and returns its process, or a negative
// number when it could not. Returns how many children did not exit with status 0, or -1 when a
// job could not be started or waited for.
template <class Start>
long run_jobs(unsigned long jobs, unsigned long width, Start start) {
    unsigned long started = 0;
    unsigned long running = 0;
    long failures = 0;
    for (unsigned long done = 0; done < jobs;) {
        while (running < width && started < jobs) {
            if (start(started) < 0) {
                return -1;
            }
            ++started;
            ++running;
        }
        int status = 0;
        if (::waitpid(-1, &status, 0) < 0) {
            return -1;
        }
        failures += WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
        --running;
        ++done;
    }
    return failures;
}
