"""The shape every GoogleTest suite of the project shares."""

load("@rules_cc//cc:defs.bzl", "cc_test")
load("//bazel:flags.bzl", "SARNIVELLE_COPTS", "SARNIVELLE_LINKOPTS")

def sarnivelle_test(name, srcs, deps = [], copts = [], **kwargs):
    """A GoogleTest suite: the given sources, listed one by one as in the CMake build, with the
    project's flags and GoogleTest's main."""
    cc_test(
        name = name,
        srcs = srcs,
        copts = SARNIVELLE_COPTS + copts,
        linkopts = SARNIVELLE_LINKOPTS,
        deps = deps + ["//bazel/gtest:gtest_main"],
        **kwargs
    )
