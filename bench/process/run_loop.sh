#!/usr/bin/env bash
# Times the run loop as whole processes with hyperfine (apt-get install hyperfine):
#   1. 27 checks of ~1 ms each with one thread and with two, report to /dev/null and to a pipe;
#   2. the real executable's full run against a program that only starts and joins 27 threads;
# and prints the peak memory of the real executable's run.
# Usage: bench/process/run_loop.sh BUILD_DIR   (configured with -DSARNIVELLE_BUILD_BENCHMARKS=ON)
set -euo pipefail
build=${1:?usage: run_loop.sh BUILD_DIR}
bin=$build/bin
hyperfine --warmup 3 --runs 30 -N \
    -n "1 thread, /dev/null" "env SARNIVELLE_TEST_THREADS=1 $bin/runner_busy_checks" \
    -n "2 threads, /dev/null" "env SARNIVELLE_TEST_THREADS=2 $bin/runner_busy_checks"
hyperfine --warmup 3 --runs 30 \
    -n "1 thread, pipe" "SARNIVELLE_TEST_THREADS=1 $bin/runner_busy_checks | cat" \
    -n "2 threads, pipe" "SARNIVELLE_TEST_THREADS=2 $bin/runner_busy_checks | cat"
hyperfine --warmup 5 --runs 100 -N \
    -n "27 threads started and joined" "$bin/runner_thread_baseline" \
    -n "sarnivelle-scenery-bake, full run" "$bin/sarnivelle-scenery-bake"
/usr/bin/time -f "peak memory of the full run: %M KiB" "$bin/sarnivelle-scenery-bake" >/dev/null
