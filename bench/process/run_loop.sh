#!/usr/bin/env bash
# Times the run loop as whole processes with hyperfine (apt-get install hyperfine):
#   1. 27 checks of ~1 ms each with one thread and with two, report to /dev/null and to a pipe;
#   2. the run loop against a bare program that only starts and joins one thread per job, side
#      by side (side_by_side.py): 27 checks of ~1 ms at 2 threads, and 10,000 checks that
#      return at once, with the bare program once more making the system calls a runner must
#      (naming each thread, its alternate signal stack, a flushed report line per job);
#   3. the real executable's full run against 27 bare threads;
#   4. the process mode against a bare program that forks a child per job from a small
#      single-threaded process, side by side with a bare program that starts the executable once
#      per check (--exact NAME), ctest -j2 over the 27 discovered checks and the in-process run;
#      then ~1,000 trivial checks in process mode against the bare fork program;
# and prints the peak memory of each run loop program.
# Usage: bench/process/run_loop.sh BUILD_DIR [CTEST_DIR]
#   BUILD_DIR  configured with -DSARNIVELLE_BUILD_BENCHMARKS=ON;
#   CTEST_DIR  a build whose ctest has the executable's 27 discovered checks (BUILD_DIR: a
#              benchmark build configured with -DSARNIVELLE_BUILD_TESTS=OFF has none).
set -euo pipefail
build=${1:?usage: run_loop.sh BUILD_DIR [CTEST_DIR]}
ctest_dir=${2:-$build}
bin=$build/bin
discovered=$(ctest --test-dir "$ctest_dir" -N -R '::tests::' | sed -n 's/^Total Tests: //p')
if [ "$discovered" != 27 ]; then
    echo "run_loop.sh: ctest in $ctest_dir has ${discovered:-no} discovered checks, not 27" >&2
    exit 2
fi
hyperfine --warmup 3 --runs 30 -N \
    -n "1 thread, /dev/null" "env SARNIVELLE_TEST_THREADS=1 $bin/runner_busy_checks" \
    -n "2 threads, /dev/null" "env SARNIVELLE_TEST_THREADS=2 $bin/runner_busy_checks"
hyperfine --warmup 3 --runs 30 \
    -n "1 thread, pipe" "SARNIVELLE_TEST_THREADS=1 $bin/runner_busy_checks | cat" \
    -n "2 threads, pipe" "SARNIVELLE_TEST_THREADS=2 $bin/runner_busy_checks | cat"
# In turns, so that a shared machine's noise falls on both alike; each ratio is a program's time
# over the bare program's.
here=$(dirname "${BASH_SOURCE[0]}")
"$here/side_by_side.py" 100 "$bin/runner_thread_baseline 27 2 600000" \
    "SARNIVELLE_TEST_THREADS=2 $bin/runner_busy_checks"
"$here/side_by_side.py" 60 "$bin/runner_thread_baseline 10000 2 0" \
    "SARNIVELLE_TEST_THREADS=2 $bin/runner_trivial_checks" "$bin/runner_thread_baseline 10000 2 0 1"
hyperfine --warmup 5 --runs 100 -N \
    -n "27 threads started and joined" "$bin/runner_thread_baseline" \
    -n "sarnivelle-scenery-bake, full run" "$bin/sarnivelle-scenery-bake"
"$here/side_by_side.py" 30 "$bin/runner_fork_baseline 27 2 0" \
    "SARNIVELLE_TEST_ISOLATE=1 SARNIVELLE_TEST_THREADS=2 $bin/sarnivelle-scenery-bake" \
    "$bin/runner_spawn_baseline 2 $bin/sarnivelle-scenery-bake" \
    "ctest --test-dir $ctest_dir -j2 -R ::tests::" \
    "SARNIVELLE_TEST_THREADS=2 $bin/sarnivelle-scenery-bake"
# trivial::tests::check_1 selects 1,112 of the 10,000 trivial checks.
"$here/side_by_side.py" 10 "$bin/runner_fork_baseline 1112 2 0" \
    "SARNIVELLE_TEST_ISOLATE=1 SARNIVELLE_TEST_THREADS=2 $bin/runner_trivial_checks trivial::tests::check_1"
for program in sarnivelle-scenery-bake runner_busy_checks runner_trivial_checks; do
    SARNIVELLE_TEST_THREADS=2 /usr/bin/time -f "peak memory of $program: %M KiB" \
        "$bin/$program" >/dev/null
done
