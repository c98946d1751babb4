#!/usr/bin/env bash
# .ci/build-parity.sh flags
# .ci/build-parity.sh sources
#
# The CMake and the Bazel build must hold the same code with the same flags; each build only
# breaks when its own files are wrong, so a file or a flag left out of one goes unnoticed
# unless it is compared:
#   flags   - SARNIVELLE_FLAGS of cmake/CompilerFlags.cmake and of bazel/flags.bzl, word for
#             word and in order;
#   sources - the tracked .cpp files that CMake compiles with tests and benchmarks on (the
#             compile_commands.json of a configure-only folder, build-parity/) and those Bazel
#             builds for //... are the same set, apart from bench/, fuzz/ and examples/, which
#             only CMake builds; fuzz/ and examples/ are projects of their own, so each of
#             their .cpp files must be named in a CMakeLists.txt of its folder. Every tracked
#             .cpp file is built by at least one of the two.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

case ${1:-} in
flags)
    python3 - <<'PY'
import ast, re, sys
cmake = open("cmake/CompilerFlags.cmake").read()
block = re.search(r"^set\(SARNIVELLE_FLAGS\s(.*?)\)", cmake, re.S | re.M)
bzl = open("bazel/flags.bzl").read()
listed = re.search(r"^SARNIVELLE_FLAGS = (\[.*?\])", bzl, re.S | re.M)
if not block or not listed:
    sys.exit("build-parity: SARNIVELLE_FLAGS not found in both files")
cmake_flags = [w for line in block.group(1).splitlines() for w in line.split("#")[0].split()]
bazel_flags = ast.literal_eval(listed.group(1))
if cmake_flags != bazel_flags:
    print("build-parity: the flag lists differ", file=sys.stderr)
    print("  cmake/CompilerFlags.cmake: " + " ".join(cmake_flags), file=sys.stderr)
    print("  bazel/flags.bzl:           " + " ".join(bazel_flags), file=sys.stderr)
    sys.exit(1)
print("build-parity: both builds compile with the same %d flags" % len(cmake_flags))
PY
    ;;
sources)
    build=build-parity
    cmake -S . -B "$build" -DSARNIVELLE_BUILD_TESTS=ON -DSARNIVELLE_BUILD_BENCHMARKS=ON >/dev/null
    tracked=$(mktemp)
    bazel_files=$(mktemp)
    trap 'rm -f "$tracked" "$bazel_files"' EXIT
    git ls-files '*.cpp' >"$tracked"
    bazel/offline/bazel.sh cquery 'kind("source file", deps(//...))' --output=label \
        >"$bazel_files" 2>/dev/null
    python3 - "$build/compile_commands.json" "$tracked" "$bazel_files" <<'PY'
import json, os, re, sys
root = os.getcwd()
tracked = set(open(sys.argv[2]).read().split())
cmake_only = ("bench/", "fuzz/", "examples/")
cmake = set()
for entry in json.load(open(sys.argv[1])):
    path = os.path.relpath(os.path.join(entry["directory"], entry["file"]), root)
    if path in tracked:
        cmake.add(path)
bazel = set()
for line in open(sys.argv[3]):
    m = re.match(r"//([^:]*):(\S+)", line)
    if m and m.group(2).endswith(".cpp"):
        bazel.add(os.path.join(m.group(1), m.group(2)))
problems = []
for path in sorted(cmake - bazel):
    if not path.startswith(cmake_only):
        problems.append("only CMake builds " + path)
for path in sorted(bazel - cmake):
    problems.append("only Bazel builds " + path)
for path in sorted(tracked - cmake - bazel):
    if path.startswith(("fuzz/", "examples/")):
        folder = os.path.dirname(path)
        lists = os.path.join(folder, "CMakeLists.txt")
        name = os.path.basename(path)
        if os.path.exists(lists) and re.search(r"\b%s\b" % re.escape(name), open(lists).read()):
            continue
    problems.append("neither build compiles " + path)
for problem in problems:
    print("build-parity: " + problem, file=sys.stderr)
if problems:
    sys.exit(1)
print("build-parity: CMake and Bazel build the same %d files" % len(cmake))
PY
    ;;
*)
    echo "usage: .ci/build-parity.sh flags | sources" >&2
    exit 2
    ;;
esac
