"""Compiler and linker flags of every target, the same as cmake/CompilerFlags.cmake.

Terrain arithmetic must give the same bits at every optimisation level and on every target, so
floating-point contraction (fused multiply-add) is off and fast-math is never used. Bazel
compiles with paths relative to the workspace root, so source locations already name files
the way a reader of the repository sees them. Warnings become errors with --config=werror
(see .bazelrc), as CI builds.
"""

# Word for word the list SARNIVELLE_FLAGS of cmake/CompilerFlags.cmake (CI compares them).
SARNIVELLE_FLAGS = [
    "-Wall",
    "-Wextra",
    "-Wpedantic",
    "-Wshadow",
    "-Wconversion",
    "-Wsign-conversion",
    "-Wold-style-cast",
    "-Wfloat-equal",
    "-Wdouble-promotion",
    "-Wimplicit-fallthrough",
    "-ffp-contract=off",
    "-fno-fast-math",
]

SARNIVELLE_COPTS = ["-std=c++20"] + SARNIVELLE_FLAGS + select({
    "//bazel:werror": ["-Werror"],
    "//conditions:default": [],
})

SARNIVELLE_LINKOPTS = ["-pthread"]
