#!/usr/bin/env bash
# .ci/report-check.sh BUILD_DIR
#
# Checks the machine-readable report forms of real runs with third-party consumers (the
# checkers in ../shared/tools/report-check, next to the repository), and the CTest tests
# registered per check. BUILD_DIR is a configured and built tree of this repository.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$(pwd)
build=$(cd "${1:?usage: .ci/report-check.sh BUILD_DIR}" && pwd)
tools=${SARNIVELLE_REPORT_TOOLS:-$root/../shared/tools/report-check}

exe=$build/bin/sarnivelle-scenery-bake
fixture=$build/bin/runner_fixture_checks
retry_fixture=$build/bin/runner_retry_fixture
for program in "$exe" "$fixture" "$retry_fixture"; do
    [ -x "$program" ] || { echo "report-check: $program is not built" >&2; exit 1; }
done

"$tools/install.sh"

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
export SARNIVELLE_ALLOW_UNSTABLE=1
unset SARNIVELLE_TEST_THREADS SARNIVELLE_TEST_NOCAPTURE SARNIVELLE_TEST_SHUFFLE \
      SARNIVELLE_TEST_SHUFFLE_SEED

failures=0
fail() { echo "report-check: FAILED: $*" >&2; failures=$((failures + 1)); }

# run NAME STATUS PROGRAM ARGS...: runs PROGRAM into $out/NAME and checks its exit status.
run() {
    local name=$1 want=$2 status=0
    shift 2
    "$@" >"$out/$name" 2>"$out/$name.err" || status=$?
    if [ "$status" != "$want" ]; then
        fail "$name: exit status $status, expected $want"
        sed 's/^/    /' "$out/$name.err" >&2
    fi
}
junit() { "$tools/check-junit.sh" "$@" || fail "check-junit $*"; }
json() { "$tools/check-json.sh" "$@" || fail "check-json $*"; }

junit_run() { run "$1" "$2" "${@:3:1}" -Z unstable-options --format junit "${@:4}"; }
json_run() { run "$1" "$2" "${@:3:1}" -Z unstable-options --format json "${@:4}"; }

echo "== the executable: full run"
junit_run full.xml 0 "$exe"
junit "$out/full.xml" tests=27 failures=0 errors=0 skipped=0
json_run full.jsonl 0 "$exe"
json "$out/full.jsonl" tests=27 passed=27 failed=0 ignored=0

echo "== the executable: filtered runs"
junit_run skip.xml 0 "$exe" --skip height
junit "$out/skip.xml" tests=15 failures=0 errors=0 skipped=0
json_run skip.jsonl 0 "$exe" --skip height
json "$out/skip.jsonl" tests=15 passed=15 failed=0 ignored=0
json_run one.jsonl 0 "$exe" --exact height::tests::on_road_basic --test-threads 1
json "$out/one.jsonl" tests=1 passed=1 failed=0 ignored=0
junit_run none.xml 0 "$exe" --exact on_road
junit "$out/none.xml" tests=0 failures=0 errors=0 skipped=0
json_run none.jsonl 0 "$exe" --exact on_road
json "$out/none.jsonl" tests=0 passed=0 failed=0 ignored=0
json_run bench.jsonl 0 "$exe" --bench
json "$out/bench.jsonl" tests=27 passed=0 failed=0 ignored=27

echo "== the executable: list mode"
json_run list.jsonl 0 "$exe" --list
json "$out/list.jsonl" tests=27
json_run list-height.jsonl 0 "$exe" --list height::tests
json "$out/list-height.jsonl" tests=12

echo "== the test-only registry: a failing run (crashing checks left out)"
# 29 checks: 10 pass (the benchmark among them, run once as a check), 17 fail (hostile bytes
# among them), 2 are ignored; one overruns the fixture's one-second deadline and gets an
# overdue event.
junit_run fixture.xml 101 "$fixture" --skip crash --test-threads 4
junit "$out/fixture.xml" tests=29 failures=17 errors=0 skipped=2
json_run fixture.jsonl 101 "$fixture" --skip crash --test-threads 4
json "$out/fixture.jsonl" tests=29 passed=10 failed=17 ignored=2
grep -q '"event":"test_timeout","name":"slow::tests::overruns_deadline"' "$out/fixture.jsonl" ||
    fail "fixture.jsonl: no overdue event for the slow check"
grep -q 'type="panic" message="hostile message: colour ' "$out/fixture.xml" ||
    fail "fixture.xml: the hostile failure message is missing"

echo "== the test-only registry: time limits"
SARNIVELLE_TEST_TIME_UNIT=100,110 junit_run limit.xml 101 "$fixture" --ensure-time timing pass::
junit "$out/limit.xml" tests=4 failures=1 errors=0 skipped=0
grep -q 'type="time_limit_exceeded"' "$out/limit.xml" || fail "limit.xml: no time-limit failure"
SARNIVELLE_TEST_TIME_UNIT=100,110 json_run limit.jsonl 101 "$fixture" --ensure-time timing pass::
json "$out/limit.jsonl" tests=4 passed=3 failed=1 ignored=0
grep -q '"outcome":"time_limit_exceeded"' "$out/limit.jsonl" ||
    fail "limit.jsonl: no time_limit_exceeded outcome"

echo "== the retry fixture: flaky and always failing checks run again"
# retry::tests::flaky fails once and then passes; always_fails fails its three attempts.
retry_state=$(mktemp -d "$out/retry.XXXXXX")
RETRY_FIXTURE_DIR=$retry_state SARNIVELLE_TEST_RETRIES=2 junit_run retry.xml 101 "$retry_fixture" retry::
junit "$out/retry.xml" tests=3 failures=1 errors=0 skipped=0
grep -q '<flakyFailure type="panic" message="the first attempt fails"' "$out/retry.xml" ||
    fail "retry.xml: the flaky check's failed attempt is missing"
[ "$(grep -c '<rerunFailure type="panic"' "$out/retry.xml")" = 2 ] ||
    fail "retry.xml: expected the two earlier attempts of the failing check"
rm -f "$retry_state"/*
RETRY_FIXTURE_DIR=$retry_state SARNIVELLE_TEST_RETRIES=2 json_run retry.jsonl 101 "$retry_fixture" retry::
# The checker knows no test_attempt events: without them the stream reads as a run without
# retries, with one result per check.
[ "$(grep -c '"event":"test_attempt"' "$out/retry.jsonl")" = 3 ] ||
    fail "retry.jsonl: expected three test_attempt events"
grep -v '"event":"test_attempt"' "$out/retry.jsonl" >"$out/retry-results.jsonl"
json "$out/retry-results.jsonl" tests=3 passed=2 failed=1 ignored=0

echo "== the unit tests' hostile golden files"
golden=$root/tests/format/golden
junit "$golden/hostile.junit.xml" tests=6 failures=3 errors=0 skipped=1
junit "$golden/empty.junit.xml" tests=0 failures=0 errors=0 skipped=0
json "$golden/hostile.jsonl" tests=6 passed=2 failed=3 ignored=1
json "$golden/empty.jsonl" tests=0
json "$golden/list.jsonl" tests=2

echo "== Bazel: one shard's test.xml (left by .ci/bazel-check.sh)"
shard_xml=$root/bazel-testlogs/components/sarnivelle-scenery-bake/checks/shard_1_of_4/test.xml
if [ -f "$shard_xml" ]; then
    # Shard 1 of 4 holds checks 1, 5, ..., 25 of the 27.
    junit "$shard_xml" tests=7 failures=0 errors=0 skipped=0
else
    echo "no Bazel test logs: run .ci/bazel-check.sh first (skipped)"
fi

echo "== ctest: one test per check of the executable"
listed=$(ctest --test-dir "$build" -N -R '^(aabb|height|noise)::tests::' | grep -c '^ *Test *#') || true
[ "$listed" = 27 ] || fail "ctest lists $listed checks of the executable, expected 27"
ctest --test-dir "$build" -R '^height::tests::' -j2 --output-on-failure >"$out/ctest-height" ||
    fail "ctest -R height::tests"
grep -q '100% tests passed, 0 tests failed out of 12' "$out/ctest-height" ||
    fail "ctest -R height::tests did not run twelve checks"

echo "== ctest: a check that vanished after the list was made fails; an ignored one is skipped"
# A stand-in executable whose list names a check the real registry does not have.
project=$out/discovery
mkdir -p "$project"
cat >"$project/checks" <<EOF
#!/bin/sh
if [ "\$1" = --list ]; then
    printf 'pass::tests::first: test\npass::tests::vanished: test\nignore::tests::plain: test\n\n3 tests, 0 benchmarks\n'
    exit 0
fi
exec "$fixture" "\$@"
EOF
chmod +x "$project/checks"
cat >"$project/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.25)
project(discovery NONE)
enable_testing()
include("$root/cmake/SarnivelleChecks.cmake")
add_executable(checks IMPORTED)
set_property(TARGET checks PROPERTY IMPORTED_LOCATION "$project/checks")
sarnivelle_discover_checks(checks TEST_PREFIX "fx." PROPERTIES LABELS fixture)
EOF
cmake -S "$project" -B "$project/build" >/dev/null
ctest --test-dir "$project/build" >"$project/ctest.out" 2>&1 || true
grep -Eq 'fx\.pass::tests::first \.+ +Passed' "$project/ctest.out" ||
    fail "discovery: the existing check did not pass"
grep -Eq 'fx\.pass::tests::vanished \.+\*+Failed' "$project/ctest.out" ||
    fail "discovery: the vanished check did not fail"
grep -Eq 'fx\.ignore::tests::plain \.+ *\*+Skipped' "$project/ctest.out" ||
    fail "discovery: the ignored check was not skipped"
[ $failures -eq 0 ] || sed 's/^/    /' "$project/ctest.out" >&2

if [ $failures -ne 0 ]; then
    echo "report-check: $failures problem(s)" >&2
    exit 1
fi
echo "report-check: all report forms read correctly"
