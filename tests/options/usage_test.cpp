#include "options/usage.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace runner::options {
namespace {

// Laid out by hand from the option table: 24-column pad or a line of its own, descriptions in
// pieces of at most 54 bytes.
constexpr std::string_view expected_usage = R"(Usage: sarnivelle-scenery-bake [OPTIONS] [FILTERS...]

Options:
        --include-ignored 
                        Run ignored and not ignored tests
        --ignored       Run only ignored tests
        --force-run-in-process 
                        Forces tests to run in-process when panics abort
        --exclude-should-panic 
                        Excludes tests marked as should_panic
        --test          Run tests and not benchmarks
        --bench         Run benchmarks instead of tests
        --list          List all tests and benchmarks
        --fail-fast     Don't start new tests after the first failure
    -h, --help          Display this message
        --logfile PATH  Write logs to the specified file (deprecated)
        --no-capture    don't capture stdout/stderr of each task, allow
                        printing directly
        --test-threads n_threads
                        Number of threads used for running tests in parallel
        --skip FILTER   Skip tests whose names contain FILTER (this flag can
                        be used multiple times)
    -q, --quiet         Display one character per test instead of one line.
                        Alias to --format=terse
        --exact         Exactly match filters rather than by substring
        --color auto|always|never
                        Configure coloring of output:
                        auto = colorize if stdout is a tty and tests are run
                        on serially (default);
                        always = always colorize output;
                        never = never colorize output;
        --format pretty|terse|json|junit
                        Configure formatting of output:
                        pretty = Print verbose output;
                        terse = Display one character per test;
                        json = Output a json document;
                        junit = Output a JUnit document
        --show-output   Show captured stdout of successful tests
    -Z unstable-options Enable unstable flags:
                        unstable-options = Allow use of experimental features
        --report-time   Show execution time of each test.
                        Threshold values for colorized output can be
                        configured via
                        `SARNIVELLE_TEST_TIME_UNIT`,
                        `SARNIVELLE_TEST_TIME_INTEGRATION` and
                        `SARNIVELLE_TEST_TIME_DOCTEST` environment variables.
                        Expected format of environment variable is
                        `VARIABLE=WARN_TIME,CRITICAL_TIME`.
                        Durations must be specified in milliseconds, e.g.
                        `500,2000` means that the warn time
                        is 0.5 seconds, and the critical time is 2 seconds.
                        Not available for --format=terse
        --ensure-time   Treat excess of the test execution time limit as
                        error.
                        Threshold values for this option can be configured via
                        `SARNIVELLE_TEST_TIME_UNIT`,
                        `SARNIVELLE_TEST_TIME_INTEGRATION` and
                        `SARNIVELLE_TEST_TIME_DOCTEST` environment variables.
                        Expected format of environment variable is
                        `VARIABLE=WARN_TIME,CRITICAL_TIME`.
                        `CRITICAL_TIME` here means the limit that should not
                        be exceeded by test.
        --shuffle       Run tests in random order
        --shuffle-seed SEED
                        Run tests in random order; seed the random number
                        generator with SEED

The FILTER string is tested against the name of all tests, and only those
tests whose names contain the filter are run. Multiple filter strings may
be passed, which will run all tests matching any of the filters.

By default, all tests are run in parallel. This can be altered with the
--test-threads flag when running tests (set it to 1).

By default, the tests are run in alphabetical order. Use --shuffle to run
the tests in random order. Pass the generated "shuffle seed" to
--shuffle-seed to run the tests in the same order again. Note that
--shuffle and --shuffle-seed do not affect whether the tests are run in
parallel.

All tests have their standard output and standard error captured by default.
This can be overridden with the --no-capture flag to a value other than "0".
Logging is not captured by default.

Test Attributes:

    `SARNIVELLE_CHECK(module, name) { ... }` - declares a check: a function
        with no arguments that passes when it returns normally. Checks run by
        default.
    `kind = TestFnKind::StaticBenchFn` - marks a benchmark: a function with
        one argument, the `runner::Bencher`. Benchmarks run with --bench, and
        otherwise run once as ordinary checks.
    `should_panic = {ShouldPanicKind::Yes}` - marks a check that passes only
        if it panics. With `{ShouldPanicKind::YesWithMessage, "text"}` the
        panic message must also contain "text".
    `ignore = true` - marks a check that normal runs report as ignored without
        running it; --ignored or --include-ignored runs it. An optional
        `ignore_message` tells why.
)";

TEST(Usage, whole_text_matches_the_hand_laid_layout) {
    EXPECT_EQ(usage_text("sarnivelle-scenery-bake"), expected_usage);
}

TEST(PackDescription, packs_words_greedily_within_the_width) {
    using Pieces = std::vector<std::string>;
    // Exactly at the width stays on one piece; one byte more breaks.
    EXPECT_EQ(pack_description("aaaa bbbb", 9), (Pieces{"aaaa bbbb"}));
    EXPECT_EQ(pack_description("aaaa bbbbb", 9), (Pieces{"aaaa", "bbbbb"}));
    // A word longer than the width stands alone, and packing goes on after it.
    EXPECT_EQ(pack_description("a bbbbbbbbbbbb c d", 5), (Pieces{"a", "bbbbbbbbbbbb", "c d"}));
    EXPECT_EQ(pack_description("bbbbbbbbbbbb", 5), (Pieces{"bbbbbbbbbbbb"}));
}

TEST(PackDescription, trims_collapses_space_and_drops_empty_lines) {
    using Pieces = std::vector<std::string>;
    EXPECT_EQ(pack_description("  \n  one\t two  \n\n   \n three\r\n", 54),
              (Pieces{"one two", "three"}));
    EXPECT_EQ(pack_description("", 54), Pieces{});
    EXPECT_EQ(pack_description(" \n\n ", 54), Pieces{});
    // Line breaks always end a piece, even when the next word would fit.
    EXPECT_EQ(pack_description("a\nb", 54), (Pieces{"a", "b"}));
}

} // namespace
} // namespace runner::options
