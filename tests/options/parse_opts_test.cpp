#include "options/parse_opts.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/environment.hpp"
#include "runner/check.hpp"

namespace runner {
namespace {

// A fake environment that remembers which variables were looked up.
struct FakeEnv {
    std::map<std::string, std::string, std::less<>> vars;
    mutable std::set<std::string, std::less<>> looked_up;

    EnvLookup lookup() const {
        return [this](std::string_view name) -> std::optional<std::string> {
            looked_up.emplace(name);
            const auto found = vars.find(name);
            if (found == vars.end()) {
                return std::nullopt;
            }
            return found->second;
        };
    }
    bool read(std::string_view name) const { return looked_up.contains(name); }
};

struct Parsed {
    ParseResult result;
    std::string out;
    std::string err;
};

Parsed parse(const std::vector<std::string>& args, const FakeEnv& env = {}) {
    std::vector<std::string> argv{"prog"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::ostringstream out;
    std::ostringstream err;
    ParseResult result = parse_opts(argv, env.lookup(), out, err);
    return {std::move(result), out.str(), err.str()};
}

FakeEnv unstable_env(std::map<std::string, std::string, std::less<>> extra = {}) {
    FakeEnv env;
    env.vars = std::move(extra);
    env.vars["SARNIVELLE_ALLOW_UNSTABLE"] = "1";
    return env;
}

std::string error_of(const Parsed& parsed) {
    if (const auto* error = std::get_if<OptError>(&parsed.result)) {
        return error->message;
    }
    return "<no error>";
}

// The settings, failing the test with the error or help when there are no settings.
TestOpts opts_of(const Parsed& parsed) {
    if (const auto* opts = std::get_if<TestOpts>(&parsed.result)) {
        return *opts;
    }
    ADD_FAILURE() << "no settings: " << error_of(parsed);
    return {};
}

// The message of the panic that parsing raises.
std::string panic_of(const std::vector<std::string>& args, const FakeEnv& env) {
    try {
        parse(args, env);
    } catch (const Panic& failure) {
        return failure.payload().message();
    }
    return "<no panic>";
}

// ---- Tokenizing -----------------------------------------------------------------------------

TEST(Tokenize, free_arguments_anywhere_and_all_after_double_dash_are_filters_in_order) {
    TestOpts opts =
        opts_of(parse({"slope", "--exact", "-", "bilinear", "--list", "", "--show-output"}));
    EXPECT_EQ(opts.filters, (std::vector<std::string>{"slope", "-", "bilinear", ""}));
    EXPECT_TRUE(opts.filter_exact);
    EXPECT_TRUE(opts.list);
    EXPECT_TRUE(opts.show_output);

    opts = opts_of(parse({"a", "--", "--exact", "-q", "--", "--bogus"}));
    EXPECT_EQ(opts.filters, (std::vector<std::string>{"a", "--exact", "-q", "--", "--bogus"}));
    EXPECT_FALSE(opts.filter_exact);
    EXPECT_EQ(opts.format, OutputFormat::Pretty);
}

TEST(Tokenize, values_attached_or_in_the_next_argument) {
    // Only skip may repeat; the two capture flags are distinct options.
    TestOpts opts = opts_of(parse({"--test-threads=3", "--skip", "a", "--skip=a", "--skip=b=c",
                                   "--nocapture", "--no-capture"}));
    EXPECT_EQ(opts.test_threads, 3u);
    EXPECT_EQ(opts.skip, (std::vector<std::string>{"a", "a", "b=c"}));
    EXPECT_TRUE(opts.nocapture);

    // The next argument is the value even when it looks like an option.
    opts = opts_of(parse({"--logfile", "--exact", "--skip", "--", "x"}));
    EXPECT_EQ(opts.logfile, "--exact");
    EXPECT_FALSE(opts.filter_exact);
    EXPECT_EQ(opts.skip, (std::vector<std::string>{"--"}));
    EXPECT_EQ(opts.filters, (std::vector<std::string>{"x"}));

    opts = opts_of(parse({"--skip="}));
    EXPECT_EQ(opts.skip, (std::vector<std::string>{""}));
}

TEST(Tokenize, short_flags_group_and_short_values_attach) {
    EXPECT_TRUE(std::holds_alternative<HelpShown>(parse({"-qh"}).result));
    EXPECT_TRUE(std::holds_alternative<HelpShown>(parse({"-hq"}).result));

    const FakeEnv env = unstable_env();
    for (const auto& args : {std::vector<std::string>{"-Zunstable-options", "--fail-fast"},
                             std::vector<std::string>{"-Z", "unstable-options", "--fail-fast"},
                             std::vector<std::string>{"-qZunstable-options", "--fail-fast"},
                             std::vector<std::string>{"-qZ", "unstable-options", "--fail-fast"}}) {
        EXPECT_TRUE(opts_of(parse(args, env)).fail_fast) << args.front();
    }
}

TEST(Tokenize, each_mistake_has_its_text) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--bogus"}, "Unrecognized option: 'bogus'"},
        {{"--exa"}, "Unrecognized option: 'exa'"}, // no abbreviations
        {{"--EXACT"}, "Unrecognized option: 'EXACT'"},
        {{"---"}, "Unrecognized option: '-'"},
        {{"--=x"}, "Unrecognized option: ''"},
        {{"-x"}, "Unrecognized option: 'x'"},
        {{"-qx"}, "Unrecognized option: 'x'"},
        {{"-\xC3\xA9"}, "Unrecognized option: '\xC3\xA9'"},
        {{"-\xFF"}, "Unrecognized option: '\xFF'"},
        {{"--test-threads"}, "Argument to option 'test-threads' missing"},
        {{"-Z"}, "Argument to option 'Z' missing"},
        {{"-qZ"}, "Argument to option 'Z' missing"},
        {{"--exact=yes"}, "Option 'exact' does not take an argument"},
        {{"--help="}, "Option 'help' does not take an argument"},
        {{"-q", "-q"}, "Option 'q' given more than once"},
        {{"-qq"}, "Option 'q' given more than once"},
        {{"-q", "--quiet"}, "Option 'quiet' given more than once"},
        {{"--color", "auto", "--color=never"}, "Option 'color' given more than once"},
    };
    for (const auto& [args, expected] : cases) {
        const Parsed parsed = parse(args);
        EXPECT_EQ(error_of(parsed), expected) << args.front();
        EXPECT_EQ(parsed.out, "");
        EXPECT_EQ(parsed.err, "");
    }
}

TEST(Tokenize, the_first_mistake_in_argument_order_wins) {
    EXPECT_EQ(error_of(parse({"--bogus", "--exact=1"})), "Unrecognized option: 'bogus'");
    EXPECT_EQ(error_of(parse({"--exact=1", "--bogus"})),
              "Option 'exact' does not take an argument");
    EXPECT_EQ(error_of(parse({"--list", "--list", "--test-threads"})),
              "Option 'list' given more than once");
    // A tokenizing mistake is found before help is looked at.
    EXPECT_EQ(error_of(parse({"--help", "--bogus"})), "Unrecognized option: 'bogus'");
}

// ---- Help -----------------------------------------------------------------------------------

TEST(Help, comes_before_every_other_setting) {
    for (const auto& args :
         {std::vector<std::string>{"--help", "--color=bogus"},
          std::vector<std::string>{"--include-ignored", "--ignored", "-h"},
          std::vector<std::string>{"-Z", "unstable-options", "--help"},
          std::vector<std::string>{"--fail-fast", "--test-threads", "0", "-h", "--logfile", "x"},
          std::vector<std::string>{"--report-time", "--help"}}) {
        FakeEnv env;
        env.vars["SARNIVELLE_TEST_TIME_UNIT"] = "bogus";
        const Parsed parsed = parse(args, env);
        EXPECT_TRUE(std::holds_alternative<HelpShown>(parsed.result)) << args.front();
        EXPECT_TRUE(parsed.out.starts_with("Usage: prog [OPTIONS] [FILTERS...]\n"));
        EXPECT_EQ(parsed.err, "") << "no logfile warning with help";
        EXPECT_TRUE(env.looked_up.empty()) << "help reads no environment";
    }
}

TEST(Help, without_even_argument_zero_there_is_nothing_to_parse) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_TRUE(std::holds_alternative<TestOpts>(parse_opts({}, FakeEnv{}.lookup(), out, err)));
}

// ---- Unstable options and gated options -----------------------------------------------------

TEST(Unstable, z_needs_the_variable_and_the_exact_value) {
    FakeEnv env;
    EXPECT_EQ(error_of(parse({"-Z", "unstable-options"}, env)),
              "the option `Z` is only accepted when SARNIVELLE_ALLOW_UNSTABLE is set");
    env.vars["SARNIVELLE_ALLOW_UNSTABLE"] = ""; // set, even though empty
    EXPECT_TRUE(std::holds_alternative<TestOpts>(parse({"-Z", "unstable-options"}, env).result));
    EXPECT_EQ(error_of(parse({"-Z", "Unstable-Options"}, env)), "Unrecognized option to `Z`");
    EXPECT_EQ(error_of(parse({"-Z", "unstable-options "}, env)), "Unrecognized option to `Z`");

    // Without -Z the variable is not even looked at.
    FakeEnv quiet;
    parse({"--list"}, quiet);
    EXPECT_FALSE(quiet.read("SARNIVELLE_ALLOW_UNSTABLE"));
}

TEST(Unstable, every_gated_option_names_itself) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--force-run-in-process"}, "force-run-in-process\" flag"},
        {{"--exclude-should-panic"}, "exclude-should-panic\" flag"},
        {{"--fail-fast"}, "fail-fast\" flag"},
        {{"--report-time"}, "report-time\" flag"},
        {{"--ensure-time"}, "ensure-time\" flag"},
        {{"--shuffle"}, "shuffle\" flag"},
        {{"--shuffle-seed", "1"}, "shuffle-seed\" option"},
        {{"--format", "json"}, "json\" format"},
        {{"--format=junit"}, "junit\" format"},
    };
    const FakeEnv allowed = unstable_env();
    for (auto [args, words] : cases) {
        EXPECT_EQ(error_of(parse(args)),
                  "The \"" + words + " is only accepted with -Z unstable-options");
        // Accepted once unstable options are enabled.
        args.insert(args.begin(), {"-Z", "unstable-options"});
        EXPECT_TRUE(std::holds_alternative<TestOpts>(parse(args, allowed).result)) << words;
    }
}

TEST(Unstable, gated_flags_are_examined_in_table_order_not_argument_order) {
    EXPECT_EQ(error_of(parse({"--ensure-time", "--fail-fast", "--force-run-in-process"})),
              "The \"force-run-in-process\" flag is only accepted with -Z unstable-options");
    EXPECT_EQ(error_of(parse({"--report-time", "--exclude-should-panic"})),
              "The \"exclude-should-panic\" flag is only accepted with -Z unstable-options");
    EXPECT_EQ(error_of(parse({"--shuffle-seed", "x", "--shuffle"})),
              "The \"shuffle\" flag is only accepted with -Z unstable-options");
}

TEST(Unstable, gated_settings_are_filled_when_enabled) {
    const TestOpts opts = opts_of(parse({"-Zunstable-options", "--force-run-in-process",
                                         "--exclude-should-panic", "--format", "junit"},
                                        unstable_env()));
    EXPECT_TRUE(opts.exclude_should_panic);
    EXPECT_EQ(opts.format, OutputFormat::Junit);
}

// ---- The order in which settings are examined -----------------------------------------------

TEST(Order, the_first_error_in_examination_order_is_reported) {
    // Every setting below is wrong; dropping the last one in turn uncovers the error of the
    // setting examined before it.
    const std::vector<std::string> args = {"--format=x", "--color=x", "--test-threads=0",
                                           "--ignored",  "--shuffle", "--fail-fast",
                                           "-Zx"};
    const std::vector<std::string> expected = {
        "argument for --format must be pretty, terse, json or junit (was x)",
        "argument for --color must be auto, always, or never (was x)",
        "argument for --test-threads must not be 0",
        "the options --include-ignored and --ignored are mutually exclusive",
        "The \"shuffle\" flag is only accepted with -Z unstable-options",
        "The \"fail-fast\" flag is only accepted with -Z unstable-options",
        "the option `Z` is only accepted when SARNIVELLE_ALLOW_UNSTABLE is set"};
    for (std::size_t count = args.size(); count > 0; --count) {
        std::vector<std::string> given(args.begin(), args.begin() + static_cast<long>(count));
        given.insert(given.begin(), "--include-ignored");
        EXPECT_EQ(error_of(parse(given)), expected[count - 1]) << given.back();
    }
}

TEST(Order, a_seed_error_comes_before_ignored_handling) {
    EXPECT_EQ(error_of(parse({"-Z", "unstable-options", "--include-ignored", "--ignored",
                              "--shuffle-seed", "-1"},
                             unstable_env())),
              "argument for --shuffle-seed must be a number (error: invalid digit found in "
              "string)");
}

// ---- Time thresholds ------------------------------------------------------------------------

TEST(TimeOptions, read_only_with_a_time_flag) {
    FakeEnv env = unstable_env({{"SARNIVELLE_TEST_TIME_UNIT", "bogus"}});
    const TestOpts opts = opts_of(parse({"-Zunstable-options"}, env));
    EXPECT_FALSE(opts.time_options.has_value());
    EXPECT_FALSE(env.read("SARNIVELLE_TEST_TIME_UNIT"));
}

TEST(TimeOptions, defaults_and_values_from_the_environment) {
    using std::chrono::milliseconds;
    TestOpts opts = opts_of(parse({"-Zunstable-options", "--report-time"}, unstable_env()));
    ASSERT_TRUE(opts.time_options.has_value());
    EXPECT_FALSE(opts.time_options->error_on_excess);
    EXPECT_EQ(opts.time_options->unit_threshold.warn, milliseconds(50));
    EXPECT_EQ(opts.time_options->unit_threshold.critical, milliseconds(100));
    EXPECT_EQ(opts.time_options->integration_threshold.warn, milliseconds(500));
    EXPECT_EQ(opts.time_options->doctest_threshold.critical, milliseconds(1000));

    opts =
        opts_of(parse({"-Zunstable-options", "--ensure-time"},
                      unstable_env({{"SARNIVELLE_TEST_TIME_UNIT", "+7,7"},
                                    {"SARNIVELLE_TEST_TIME_INTEGRATION", "0,18446744073709551615"},
                                    {"SARNIVELLE_TEST_TIME_DOCTEST", "1,2"}})));
    ASSERT_TRUE(opts.time_options.has_value());
    EXPECT_TRUE(opts.time_options->error_on_excess);
    EXPECT_EQ(opts.time_options->unit_threshold.warn, milliseconds(7));
    EXPECT_EQ(opts.time_options->unit_threshold.critical, milliseconds(7));
    EXPECT_EQ(opts.time_options->integration_threshold.warn, milliseconds(0));
    // A huge limit saturates instead of wrapping to a negative duration.
    EXPECT_GT(opts.time_options->integration_threshold.critical, milliseconds(1'000'000'000'000));
    EXPECT_EQ(opts.time_options->doctest_threshold.warn, milliseconds(1));
    EXPECT_EQ(opts.time_options->doctest_threshold.critical, milliseconds(2));
}

TEST(TimeOptions, invalid_values_panic_with_their_messages) {
    const std::string value = "Duration value in variable SARNIVELLE_TEST_TIME_";
    const std::vector<std::array<std::string, 3>> cases = {
        {"UNIT", "100",
         "Duration variable SARNIVELLE_TEST_TIME_UNIT expected to have 2 numbers separated by "
         "comma, but got 100"},
        {"INTEGRATION", "1,x", value + "INTEGRATION is expected to be a number, but got x"},
        {"DOCTEST", ",5", value + "DOCTEST is expected to be a number, but got "},
        {"UNIT", "1,2,3", value + "UNIT is expected to be a number, but got 2,3"},
        {"UNIT", "-1,5", value + "UNIT is expected to be a number, but got -1"},
        {"UNIT", "101,100",
         "Test execution warn time should be less or equal to the critical time"},
    };
    for (const auto& [suffix, setting, expected] : cases) {
        EXPECT_EQ(panic_of({"-Zunstable-options", "--report-time"},
                           unstable_env({{"SARNIVELLE_TEST_TIME_" + suffix, setting}})),
                  expected);
    }
}

// ---- Shuffling ------------------------------------------------------------------------------

TEST(Shuffle, seed_option_parses_an_unsigned_64_bit_number) {
    const FakeEnv env = unstable_env({{"SARNIVELLE_TEST_SHUFFLE_SEED", "bogus"}});
    TestOpts opts =
        opts_of(parse({"-Zunstable-options", "--shuffle-seed", "18446744073709551615"}, env));
    EXPECT_EQ(opts.shuffle_seed, 18446744073709551615ULL);
    EXPECT_FALSE(env.read("SARNIVELLE_TEST_SHUFFLE_SEED")) << "the option wins";
}

TEST(Shuffle, environment_is_read_only_with_unstable_options) {
    FakeEnv plain;
    plain.vars = {{"SARNIVELLE_TEST_SHUFFLE", "1"}, {"SARNIVELLE_TEST_SHUFFLE_SEED", "bogus"}};
    const TestOpts opts = opts_of(parse({}, plain));
    EXPECT_FALSE(opts.shuffle);
    EXPECT_FALSE(opts.shuffle_seed.has_value());
    EXPECT_FALSE(plain.read("SARNIVELLE_TEST_SHUFFLE"));
    EXPECT_FALSE(plain.read("SARNIVELLE_TEST_SHUFFLE_SEED"));
}

TEST(Shuffle, environment_switches_shuffling_and_gives_the_seed) {
    const std::vector<std::string> z = {"-Zunstable-options"};
    EXPECT_TRUE(opts_of(parse(z, unstable_env({{"SARNIVELLE_TEST_SHUFFLE", "yes"}}))).shuffle);
    EXPECT_TRUE(opts_of(parse(z, unstable_env({{"SARNIVELLE_TEST_SHUFFLE", ""}}))).shuffle);
    EXPECT_FALSE(opts_of(parse(z, unstable_env({{"SARNIVELLE_TEST_SHUFFLE", "0"}}))).shuffle);
    EXPECT_FALSE(opts_of(parse(z, unstable_env())).shuffle);

    const FakeEnv seeded = unstable_env({{"SARNIVELLE_TEST_SHUFFLE_SEED", "+12345"}});
    EXPECT_EQ(opts_of(parse(z, seeded)).shuffle_seed, 12345u);

    EXPECT_EQ(panic_of(z, unstable_env({{"SARNIVELLE_TEST_SHUFFLE_SEED", "12 "}})),
              "SARNIVELLE_TEST_SHUFFLE_SEED is `12 `, should be a number.");
}

// ---- Plain settings -------------------------------------------------------------------------

TEST(Settings, bench_and_test_choose_what_runs) {
    // {arguments, benchmarks, tests}
    const std::vector<std::tuple<std::vector<std::string>, bool, bool>> cases = {
        {{}, false, true},
        {{"--bench"}, true, false},
        {{"--bench", "--test"}, true, true},
        {{"--test"}, false, true}};
    for (const auto& [args, bench, tests] : cases) {
        const TestOpts opts = opts_of(parse(args));
        EXPECT_EQ(opts.bench_benchmarks, bench) << args.size();
        EXPECT_EQ(opts.run_tests, tests) << args.size();
    }
}

TEST(Settings, capture_from_flags_or_environment) {
    // The variable turns capture off when set to anything but "0".
    for (const auto& [value, off] : {std::pair{"1", true}, {"", true}, {"0", false}}) {
        FakeEnv env;
        env.vars["SARNIVELLE_TEST_NOCAPTURE"] = value;
        EXPECT_EQ(opts_of(parse({}, env)).nocapture, off) << value;
    }
    FakeEnv flagged;
    EXPECT_TRUE(opts_of(parse({"--nocapture"}, flagged)).nocapture);
    EXPECT_TRUE(opts_of(parse({"--no-capture"}, flagged)).nocapture);
    EXPECT_FALSE(flagged.read("SARNIVELLE_TEST_NOCAPTURE"));
}

TEST(Settings, test_threads_must_be_a_positive_number) {
    EXPECT_EQ(opts_of(parse({"--test-threads", "+4"})).test_threads, 4u);
    EXPECT_EQ(opts_of(parse({"--test-threads=18446744073709551615"})).test_threads,
              18446744073709551615ULL);
    const std::string prefix = "argument for --test-threads must be a number > 0 (error: ";
    const std::string digit = prefix + "invalid digit found in string)";
    const std::string zero = "argument for --test-threads must not be 0";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"x", digit},
        {"-1", digit},
        {"+", digit},
        {" 1", digit},
        {"", prefix + "cannot parse integer from empty string)"},
        {"18446744073709551616", prefix + "number too large to fit in target type)"},
        {"0", zero},
        {"000", zero}};
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(error_of(parse({"--test-threads", value})), expected) << value;
    }
}

// Each word-valued setting from its flags, with the others left at their defaults; the words
// are exact and lower case.
TEST(Settings, word_settings_and_their_errors) {
    struct Case {
        std::vector<std::string> args;
        RunIgnored ignored = RunIgnored::No;
        ColorConfig color = ColorConfig::AutoColor;
        OutputFormat format = OutputFormat::Pretty;
    };
    const std::vector<Case> cases = {
        {{}},
        {{"--include-ignored"}, RunIgnored::Yes},
        {{"--ignored"}, RunIgnored::Only},
        {{"--color", "auto"}},
        {{"--color", "always"}, RunIgnored::No, ColorConfig::AlwaysColor},
        {{"--color=never"}, RunIgnored::No, ColorConfig::NeverColor},
        {{"-q"}, RunIgnored::No, ColorConfig::AutoColor, OutputFormat::Terse},
        {{"--quiet"}, RunIgnored::No, ColorConfig::AutoColor, OutputFormat::Terse},
        {{"--format", "terse"}, RunIgnored::No, ColorConfig::AutoColor, OutputFormat::Terse},
        {{"-q", "--format", "pretty"}},
        {{"-Zunstable-options", "-q", "--format=json"},
         RunIgnored::No,
         ColorConfig::AutoColor,
         OutputFormat::Json},
    };
    for (const Case& c : cases) {
        const TestOpts opts = opts_of(parse(c.args, unstable_env()));
        const std::string args = ::testing::PrintToString(c.args);
        EXPECT_EQ(opts.run_ignored, c.ignored) << args;
        EXPECT_EQ(opts.color, c.color) << args;
        EXPECT_EQ(opts.format, c.format) << args;
    }

    const std::vector<std::pair<std::vector<std::string>, std::string>> errors = {
        {{"--color", "Always"}, "argument for --color must be auto, always, or never (was Always)"},
        {{"--color="}, "argument for --color must be auto, always, or never (was )"},
        {{"--format", "JSON"},
         "argument for --format must be pretty, terse, json or junit (was JSON)"},
    };
    for (const auto& [args, expected] : errors) {
        EXPECT_EQ(error_of(parse(args)), expected) << ::testing::PrintToString(args);
    }
}

TEST(Settings, logfile_warns_without_a_newline_and_only_on_success) {
    Parsed parsed = parse({"--logfile", "run.log"});
    EXPECT_EQ(opts_of(parsed).logfile, "run.log");
    EXPECT_EQ(parsed.err, "warning: `--logfile` is deprecated");
    EXPECT_EQ(parsed.out, "");

    parsed = parse({"--logfile", "run.log", "--format", "bogus"});
    EXPECT_TRUE(std::holds_alternative<OptError>(parsed.result));
    EXPECT_EQ(parsed.err, "");
}

TEST(Robustness, many_and_long_arguments) {
    std::vector<std::string> argv{"prog"};
    for (int i = 0; i < 5000; ++i) {
        argv.push_back("filter" + std::to_string(i));
        argv.push_back("--skip=" + std::to_string(i));
    }
    argv.push_back(std::string(100000, 'x'));
    argv.push_back("-" + std::string(100000, 'q'));
    std::ostringstream out;
    std::ostringstream err;
    const auto result = parse_opts(argv, FakeEnv{}.lookup(), out, err);
    ASSERT_TRUE(std::holds_alternative<OptError>(result));
    EXPECT_EQ(std::get<OptError>(result).message, "Option 'q' given more than once");

    argv.pop_back();
    const auto ok = parse_opts(argv, FakeEnv{}.lookup(), out, err);
    ASSERT_TRUE(std::holds_alternative<TestOpts>(ok));
    EXPECT_EQ(std::get<TestOpts>(ok).filters.size(), 5001u);
    EXPECT_EQ(std::get<TestOpts>(ok).skip.size(), 5000u);
}

// The process's own environment: a name of any length, and only as many bytes of it as the
// view holds.
TEST(ProcessEnv, looks_up_exactly_the_viewed_name) {
    for (const std::size_t length : {1U, 15U, 63U, 64U, 65U, 200U}) {
        const std::string name = "SARNIVELLE_LOOKUP_" + std::string(length, 'N');
        const std::string longer = name + "_LONGER";
        ASSERT_EQ(setenv(longer.c_str(), "longer", 1), 0);
        ASSERT_EQ(platform::process_env(std::string_view(longer).substr(0, name.size())),
                  std::nullopt)
            << name;
        ASSERT_EQ(setenv(name.c_str(), "value", 1), 0);
        EXPECT_EQ(platform::process_env(std::string_view(longer).substr(0, name.size())), "value")
            << name;
        unsetenv(name.c_str());
        unsetenv(longer.c_str());
    }
}

} // namespace
} // namespace runner
