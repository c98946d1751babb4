#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "registry.hpp"

namespace {

const std::string binary = SCENERY_BAKE_BINARY;

// The names of the registry, in registry order.
const std::vector<std::string> registry = [] {
    std::vector<std::string> names;
    for (const auto* check : sarnivelle_scenery_bake::registry()) {
        names.emplace_back(check->desc.name);
    }
    return names;
}();

// How a run of the executable ended and what it wrote.
struct Finished {
    int status = -1; // the exit status; -1 when the program ended by a signal
    std::string out;
    std::string err;
};

// Runs the executable with `args` in the test's environment without any SARNIVELLE_
// variable, plus `env`.
Finished run(const std::vector<std::string>& args,
             const std::map<std::string, std::string>& env = {}) {
    test_support::ChildSpec child;
    child.args = args;
    child.env.assign(env.begin(), env.end());
    test_support::ChildResult result = test_support::run_child(binary, child);
    return {result.exited ? result.exit_status : -1, std::move(result.out), std::move(result.err)};
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The names of the check lines "test {name} ... {word}" of a pretty report, in report order.
std::vector<std::string> reported(const std::string& out, std::string_view word = "ok") {
    std::vector<std::string> names;
    const std::string tail = " ... " + std::string(word);
    for (const auto& line : lines_of(out)) {
        if (line.starts_with("test ") && line.ends_with(tail)) {
            names.push_back(line.substr(5, line.size() - 5 - tail.size()));
        }
    }
    return names;
}

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

std::string summary(int passed, int ignored, int filtered_out) {
    return "test result: ok. " + std::to_string(passed) + " passed; 0 failed; " +
           std::to_string(ignored) + " ignored; 0 measured; " + std::to_string(filtered_out) +
           " filtered out; finished in ";
}

void expect_summary(const Finished& run, int passed, int ignored, int filtered_out) {
    EXPECT_NE(run.out.find("\n" + summary(passed, ignored, filtered_out)), std::string::npos)
        << run.out;
}

void expect_error(const Finished& run, const std::string& message) {
    EXPECT_EQ(run.status, 101);
    EXPECT_EQ(run.err, "error: " + message + "\n");
    EXPECT_EQ(run.out, "");
}

const std::map<std::string, std::string> allow_unstable = {{"SARNIVELLE_ALLOW_UNSTABLE", "1"}};

// ---- Selection ------------------------------------------------------------------------------

TEST(Selection, no_arguments_run_every_check_with_the_pretty_report) {
    const auto finished = run({});
    EXPECT_EQ(finished.status, 0);
    EXPECT_TRUE(finished.out.starts_with("\nrunning 27 tests\n")) << finished.out;
    EXPECT_EQ(sorted(reported(finished.out)), registry);
    expect_summary(finished, 27, 0, 0);
    EXPECT_EQ(finished.err, "");
}

TEST(Selection, exact_selects_whole_names_only) {
    auto finished = run({"--exact", "height::tests::on_road_basic"});
    EXPECT_EQ(finished.status, 0);
    EXPECT_TRUE(finished.out.starts_with("\nrunning 1 test\n")) << finished.out;
    EXPECT_EQ(reported(finished.out), (std::vector<std::string>{"height::tests::on_road_basic"}));
    expect_summary(finished, 1, 0, 26);

    finished = run({"--exact", "on_road"});
    EXPECT_EQ(finished.status, 0);
    EXPECT_TRUE(finished.out.starts_with("\nrunning 0 tests\n")) << finished.out;
    EXPECT_TRUE(reported(finished.out).empty());
    expect_summary(finished, 0, 0, 27);
}

TEST(Selection, two_filters_select_their_union) {
    const auto finished = run({"slope", "--test-threads", "1", "bilinear"});
    EXPECT_EQ(finished.status, 0);
    // Run one at a time, the checks keep registry order.
    EXPECT_EQ(
        reported(finished.out),
        (std::vector<std::string>{
            "height::tests::bilinear_at_vertex_equals_raw_height",
            "height::tests::bilinear_clamps_oob_inputs",
            "height::tests::bilinear_midpoint_is_corner_average",
            "height::tests::slope_flat_terrain_is_zero", "height::tests::slope_linear_ramp_45deg",
            "height::tests::triangle_plane_z_matches_bilinear_on_planar_ramp"}));
    expect_summary(finished, 6, 0, 21);
}

TEST(Selection, triangle_prefix_selects_the_three_triangle_plane_checks) {
    const auto finished = run({"height::tests::triangle"});
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(sorted(reported(finished.out)),
              (std::vector<std::string>{registry[18], registry[19], registry[20]}));
    expect_summary(finished, 3, 0, 24);
}

TEST(Selection, skip_by_substring_and_with_exact) {
    auto finished = run({"--skip", "height"});
    EXPECT_EQ(finished.status, 0);
    std::vector<std::string> expected(registry.begin(), registry.begin() + 9);
    expected.insert(expected.end(), registry.begin() + 21, registry.end());
    EXPECT_EQ(sorted(reported(finished.out)), expected);
    expect_summary(finished, 15, 0, 12);

    finished = run({"--skip", "height", "--exact"});
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(sorted(reported(finished.out)), registry);
    expect_summary(finished, 27, 0, 0);
}

TEST(Selection, bench_alone_reports_every_selected_check_as_ignored) {
    const auto finished = run({"--bench", "noise"});
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(sorted(reported(finished.out, "ignored")),
              std::vector<std::string>(registry.begin() + 21, registry.end()));
    expect_summary(finished, 0, 6, 21);
}

TEST(Selection, ignored_only_selects_nothing_from_this_registry) {
    const auto finished = run({"--ignored"});
    EXPECT_EQ(finished.status, 0);
    expect_summary(finished, 0, 0, 27);
}

// ---- List mode ------------------------------------------------------------------------------

TEST(List, prints_every_name_then_the_counts) {
    std::string expected;
    for (const auto& name : registry) {
        expected += name + ": test\n";
    }
    expected += "\n27 tests, 0 benchmarks\n";
    for (const auto& args : {std::vector<std::string>{"--list"},
                             std::vector<std::string>{"--list", "-q", "--color", "always"}}) {
        const auto finished = run(args);
        EXPECT_EQ(finished.status, 0);
        EXPECT_EQ(finished.out, expected);
        EXPECT_EQ(finished.err, "");
    }
}

TEST(List, applies_the_selection) {
    const auto finished = run({"--list", "height::tests::triangle", "--skip", "midpoint"});
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(finished.out,
              registry[18] + ": test\n" + registry[19] + ": test\n\n2 tests, 0 benchmarks\n");

    const auto none = run({"--list", "--exact", "on_road"});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "0 tests, 0 benchmarks\n");
}

// ---- Command-line mistakes ------------------------------------------------------------------

TEST(Errors, each_mistake_reports_its_text_and_status_101) {
    expect_error(run({"--include-ignored", "--ignored"}),
                 "the options --include-ignored and --ignored are mutually exclusive");
    expect_error(run({"--test-threads", "0"}), "argument for --test-threads must not be 0");
    expect_error(run({"--test-threads", "x"}),
                 "argument for --test-threads must be a number > 0 (error: invalid digit found "
                 "in string)");
    expect_error(run({"--bogus"}), "Unrecognized option: 'bogus'");
    expect_error(run({"-Z", "unstable-options", "--shuffle-seed", "x"}, allow_unstable),
                 "argument for --shuffle-seed must be a number (error: invalid digit found in "
                 "string)");
}

TEST(Errors, strange_arguments_never_crash) {
    const std::vector<std::vector<std::string>> cases = {
        {""},
        {"-"},
        {"--"},
        {"---"},
        {"-\xFF\xFE"},
        {"--\xC3"},
        {"--=", "="},
        {std::string(100000, 'z')},
        {"--test-threads", "999999999999999999999999999"}};
    for (const auto& args : cases) {
        const auto finished = run(args);
        EXPECT_TRUE(finished.status == 0 || finished.status == 101) << finished.status;
    }
}

// ---- Unstable options -----------------------------------------------------------------------

TEST(Unstable, json_needs_the_option_and_the_variable) {
    expect_error(run({"--format", "json"}),
                 "The \"json\" format is only accepted with -Z unstable-options");
    expect_error(run({"-Z", "unstable-options", "--format", "json"}),
                 "the option `Z` is only accepted when SARNIVELLE_ALLOW_UNSTABLE is set");

    const auto finished =
        run({"-Z", "unstable-options", "--format", "json", "on_road"}, allow_unstable);
    EXPECT_EQ(finished.status, 0);
    const auto lines = lines_of(finished.out);
    ASSERT_FALSE(lines.empty());
    for (const auto& line : lines) {
        EXPECT_TRUE(line.starts_with("{") && line.ends_with("}")) << line;
    }
}

TEST(Unstable, invalid_environment_values_stop_with_status_101) {
    auto env = allow_unstable;
    env["SARNIVELLE_TEST_SHUFFLE_SEED"] = "soon";
    auto finished = run({"-Zunstable-options"}, env);
    EXPECT_EQ(finished.status, 101);
    EXPECT_NE(finished.err.find("SARNIVELLE_TEST_SHUFFLE_SEED is `soon`, should be a number."),
              std::string::npos)
        << finished.err;

    env = allow_unstable;
    env["SARNIVELLE_TEST_TIME_UNIT"] = "100";
    finished = run({"-Zunstable-options", "--report-time"}, env);
    EXPECT_EQ(finished.status, 101);
    EXPECT_NE(finished.err.find("Duration variable SARNIVELLE_TEST_TIME_UNIT expected to have 2 "
                                "numbers separated by comma, but got 100"),
              std::string::npos)
        << finished.err;
}

// ---- Help -----------------------------------------------------------------------------------

TEST(Help, is_printed_even_with_an_invalid_colour) {
    const auto finished = run({"--help", "--color=bogus"});
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(finished.err, "");
    EXPECT_TRUE(
        finished.out.starts_with("Usage: " + binary + " [OPTIONS] [FILTERS...]\n\nOptions:\n"))
        << finished.out;
    EXPECT_TRUE(finished.out.ends_with("`ignore_message` tells why.\n"));
    EXPECT_NE(finished.out.find("\n        --no-capture    "), std::string::npos);
    EXPECT_EQ(finished.out.find("--nocapture"), std::string::npos);
    EXPECT_EQ(run({"-h"}).out, finished.out);
}

// ---- Capture --------------------------------------------------------------------------------

TEST(Capture, nocapture_works_like_no_capture) {
    for (const auto& flag : {"--nocapture", "--no-capture"}) {
        const auto finished = run({flag, "--test-threads", "1", "height"});
        EXPECT_EQ(finished.status, 0) << flag;
        EXPECT_EQ(reported(finished.out).size(), 12u) << flag;
        expect_summary(finished, 12, 0, 15);
    }
}

// ---- Shuffling ------------------------------------------------------------------------------

TEST(Shuffle, the_same_seed_gives_the_same_order) {
    const std::vector<std::string> args = {"-Z", "unstable-options", "--shuffle-seed",
                                           "42", "--test-threads",   "1"};
    const auto first = run(args, allow_unstable);
    const auto second = run(args, allow_unstable);
    EXPECT_EQ(first.status, 0);
    EXPECT_TRUE(first.out.starts_with("\nrunning 27 tests (shuffle seed: 42)\n")) << first.out;

    // The order a second implementation of the shuffle computes for seed 42.
    const std::array<std::size_t, 27> positions = {17, 10, 23, 1,  12, 7,  3,  13, 0,
                                                   21, 25, 26, 15, 5,  19, 9,  6,  14,
                                                   8,  11, 22, 24, 4,  16, 20, 18, 2};
    std::vector<std::string> expected;
    for (const auto position : positions) {
        expected.push_back(registry[position]);
    }
    EXPECT_EQ(reported(first.out), expected);
    EXPECT_EQ(reported(second.out), expected);

    // The seed from the environment gives the same order.
    auto env = allow_unstable;
    env["SARNIVELLE_TEST_SHUFFLE_SEED"] = "42";
    const auto from_env = run({"-Zunstable-options", "--test-threads=1"}, env);
    EXPECT_EQ(reported(from_env.out), expected);
}

TEST(Shuffle, shuffles_only_the_selected_checks) {
    const auto finished = run(
        {"-Zunstable-options", "--shuffle-seed=7", "--test-threads=1", "height::tests::triangle"},
        allow_unstable);
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(reported(finished.out),
              (std::vector<std::string>{registry[20], registry[18], registry[19]}));
}

// ---- Log file -------------------------------------------------------------------------------

TEST(LogFile, warns_of_deprecation_without_a_newline) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("cli_test_log_" + std::to_string(::getpid()) + ".txt");
    const auto finished = run({"--logfile", path.string(), "on_road"});
    std::filesystem::remove(path);
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(finished.err, "warning: `--logfile` is deprecated");
    expect_summary(finished, 1, 0, 26);
}

} // namespace
