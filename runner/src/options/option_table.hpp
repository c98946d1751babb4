// The runner's options, declared once: the tokenizer matches arguments against these rows and
// the usage text is printed from them, so the two cannot drift apart.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace runner::options {

// How an option takes its argument: a flag takes none, a value option takes one and may be
// given once, a multi option takes one each time and may repeat.
enum class ArgKind { Flag, Value, Multi };

struct OptionRow {
    char short_name = '\0';     // '\0' when the option has no short form
    std::string_view long_name; // empty when the option has only a short form
    ArgKind kind = ArgKind::Flag;
    std::string_view hint; // the argument's placeholder in the usage text
    std::string_view description;
    bool gated = false;  // only accepted with `-Z unstable-options`
    bool hidden = false; // accepted, but left out of the usage text
};

inline constexpr std::string_view report_time_description =
    R"(Show execution time of each test.

            Threshold values for colorized output can be configured via
            `SARNIVELLE_TEST_TIME_UNIT`, `SARNIVELLE_TEST_TIME_INTEGRATION` and
            `SARNIVELLE_TEST_TIME_DOCTEST` environment variables.

            Expected format of environment variable is `VARIABLE=WARN_TIME,CRITICAL_TIME`.
            Durations must be specified in milliseconds, e.g. `500,2000` means that the warn time
            is 0.5 seconds, and the critical time is 2 seconds.

            Not available for --format=terse)";

inline constexpr std::string_view ensure_time_description =
    R"(Treat excess of the test execution time limit as error.

            Threshold values for this option can be configured via
            `SARNIVELLE_TEST_TIME_UNIT`, `SARNIVELLE_TEST_TIME_INTEGRATION` and
            `SARNIVELLE_TEST_TIME_DOCTEST` environment variables.

            Expected format of environment variable is `VARIABLE=WARN_TIME,CRITICAL_TIME`.

            `CRITICAL_TIME` here means the limit that should not be exceeded by test.)";

// Every option, in registration order, which is also the order of the usage text.
inline constexpr std::array option_table{
    OptionRow{'\0', "include-ignored", ArgKind::Flag, "", "Run ignored and not ignored tests"},
    OptionRow{'\0', "ignored", ArgKind::Flag, "", "Run only ignored tests"},
    OptionRow{'\0', "force-run-in-process", ArgKind::Flag, "",
              "Forces tests to run in-process when panics abort", true},
    OptionRow{'\0', "exclude-should-panic", ArgKind::Flag, "",
              "Excludes tests marked as should_panic", true},
    OptionRow{'\0', "test", ArgKind::Flag, "", "Run tests and not benchmarks"},
    OptionRow{'\0', "bench", ArgKind::Flag, "", "Run benchmarks instead of tests"},
    OptionRow{'\0', "list", ArgKind::Flag, "", "List all tests and benchmarks"},
    OptionRow{'\0', "fail-fast", ArgKind::Flag, "", "Don't start new tests after the first failure",
              true},
    OptionRow{'h', "help", ArgKind::Flag, "", "Display this message"},
    OptionRow{'\0', "logfile", ArgKind::Value, "PATH",
              "Write logs to the specified file (deprecated)"},
    OptionRow{'\0', "no-capture", ArgKind::Flag, "",
              "don't capture stdout/stderr of each task, allow printing directly"},
    OptionRow{'\0', "test-threads", ArgKind::Value, "n_threads",
              "Number of threads used for running tests in parallel"},
    OptionRow{'\0', "skip", ArgKind::Multi, "FILTER",
              "Skip tests whose names contain FILTER (this flag can be used multiple times)"},
    OptionRow{'q', "quiet", ArgKind::Flag, "",
              "Display one character per test instead of one line. Alias to --format=terse"},
    OptionRow{'\0', "exact", ArgKind::Flag, "", "Exactly match filters rather than by substring"},
    OptionRow{'\0', "color", ArgKind::Value, "auto|always|never",
              R"(Configure coloring of output:
            auto   = colorize if stdout is a tty and tests are run on serially (default);
            always = always colorize output;
            never  = never colorize output;)"},
    OptionRow{'\0', "format", ArgKind::Value, "pretty|terse|json|junit",
              R"(Configure formatting of output:
            pretty = Print verbose output;
            terse  = Display one character per test;
            json   = Output a json document;
            junit  = Output a JUnit document)"},
    OptionRow{'\0', "show-output", ArgKind::Flag, "", "Show captured stdout of successful tests"},
    OptionRow{'Z', "", ArgKind::Value, "unstable-options",
              R"(Enable unstable flags:
            unstable-options = Allow use of experimental features)"},
    OptionRow{'\0', "report-time", ArgKind::Flag, "", report_time_description, true},
    OptionRow{'\0', "ensure-time", ArgKind::Flag, "", ensure_time_description, true},
    OptionRow{'\0', "shuffle", ArgKind::Flag, "", "Run tests in random order", true},
    OptionRow{'\0', "shuffle-seed", ArgKind::Value, "SEED",
              "Run tests in random order; seed the random number generator with SEED", true},
    OptionRow{'\0', "nocapture", ArgKind::Flag, "", "Deprecated, use `--no-capture`", false, true},
};

inline constexpr std::size_t option_count = option_table.size();

// The row of `--name`, matched by the whole name.
constexpr std::optional<std::size_t> find_long(std::string_view name) {
    if (name.empty()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < option_count; ++i) {
        if (option_table[i].long_name == name) {
            return i;
        }
    }
    return std::nullopt;
}

// The row of `-c`.
constexpr std::optional<std::size_t> find_short(char name) {
    if (name == '\0') {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < option_count; ++i) {
        if (option_table[i].short_name == name) {
            return i;
        }
    }
    return std::nullopt;
}

// The row of an option the parser refers to by name; a name missing from the table does not
// compile where it is used in a constant expression.
consteval std::size_t row_of(std::string_view name) {
    if (name.size() == 1) {
        if (const auto row = find_short(name[0])) {
            return *row;
        }
    }
    if (const auto row = find_long(name)) {
        return *row;
    }
    throw "no such option in the option table";
}

} // namespace runner::options
