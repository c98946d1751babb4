#!/usr/bin/env bash
# .ci/bazel-check.sh
#
# Builds and tests the project with Bazel, offline (bazel/offline/bazel.sh), and checks what
# Bazel saw of the runner's test protocol:
#   - every target builds, and the GoogleTest suites and the sharded checks pass;
#   - the checks ran as 4 shards, each shard's test.xml is the runner's own JUnit document,
#     and together the shards ran each of the 27 checks exactly once; each shard left its
#     timeline (trace.json) among its undeclared outputs;
#   - the sharded checks pass with each check in a process of its own (SARNIVELLE_TEST_ISOLATE=1);
#   - the test over the test-only registry, whose checks fail, makes `bazel test` fail.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$(pwd)
bazel=$root/bazel/offline/bazel.sh
failures=0
fail() { echo "bazel-check: FAILED: $*" >&2; failures=$((failures + 1)); }

names=$(mktemp)
stamp=$(mktemp)
trap 'rm -f "$names" "$stamp"' EXIT

echo "== bazel test //..."
# Every test runs, so that the logs read below are this run's.
"$bazel" test //... --config=werror --nocache_test_results --test_summary=terse

echo "== the sharded checks"
logs=$root/bazel-testlogs/components/sarnivelle-scenery-bake/checks
shards=0
ran=0
for shard in "$logs"/shard_*_of_*; do
    [ "$shard/test.log" -nt "$stamp" ] || continue # left by an earlier run
    shards=$((shards + 1))
    case $shard in */shard_[1-4]_of_4) ;; *) fail "$shard: not one of 4 shards" ;; esac
    xml=$shard/test.xml
    # The runner's document has one <testsuite> root named after the executable, and cases
    # named by module and check; a report Bazel makes up itself has a <testsuites> root.
    head -n 2 "$xml" | grep -q '^<testsuite name="checks" tests="[0-9]*" failures="0"' ||
        fail "$xml is not the runner's JUnit document"
    sed -n 's/^  <testcase classname="\([^"]*\)" name="\([^"]*\)".*/\1::\2/p' "$xml" >>"$names"
    count=$(sed -n 's/^running \([0-9]*\) tests\{0,1\}$/\1/p' "$shard/test.log")
    [ -n "$count" ] || fail "$shard/test.log has no run-start line"
    ran=$((ran + ${count:-0}))
    python3 - "$shard/test.outputs/outputs.zip" <<'PY' || fail "$shard: no trace.json"
import json, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    trace = json.loads(z.read("trace.json"))
assert any(e.get("cat") == "run" for e in trace["traceEvents"])
PY
done
[ "$shards" = 4 ] || fail "$shards shards ran, expected 4"
[ "$ran" = 27 ] || fail "the shards' logs announce $ran checks, expected 27"
expected=$("$root/bazel-bin/components/sarnivelle-scenery-bake/sarnivelle-scenery-bake" --list |
    sed -n 's/: test$//p' | sort)
[ "$(sort "$names")" = "$expected" ] ||
    fail "the shards' cases are not the 27 checks each once:
$(diff <(sort "$names") <(echo "$expected") || true)"

echo "== the sharded checks, each in a process of its own"
"$bazel" test //components/sarnivelle-scenery-bake:checks --test_env=SARNIVELLE_TEST_ISOLATE=1 \
    --nocache_test_results --test_summary=terse ||
    fail "the checks did not pass in processes of their own"

echo "== a test with failing checks fails"
status=0
"$bazel" test //tests:fixture_checks --config=werror --nocache_test_results --test_summary=terse >/dev/null 2>&1 ||
    status=$?
# Bazel's status for "build fine, tests failed" is 3.
[ "$status" = 3 ] || fail "bazel test //tests:fixture_checks ended with $status, expected 3"
grep -hq 'failures="[1-9]' "$root"/bazel-testlogs/tests/fixture_checks/shard_*_of_2/test.xml ||
    fail "the failing target's reports show no failure"

if [ $failures -ne 0 ]; then
    echo "bazel-check: $failures problem(s)" >&2
    exit 1
fi
echo "bazel-check: the sharded Bazel run is what it should be"
