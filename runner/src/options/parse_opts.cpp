#include "options/parse_opts.hpp"

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <limits>

#include "options/option_table.hpp"
#include "options/tokenize.hpp"
#include "options/usage.hpp"
#include "platform/environment.hpp"
#include "runner/check.hpp"
#include "text/parse_number.hpp"

namespace runner {

namespace {

using options::Matches;
using options::option_table;
using options::row_of;

// The settings are examined in a fixed order and the first mistake found is reported; each
// step below either fills its part of the settings or returns the error text.
class SettingsReader {
public:
    SettingsReader(const Matches& matches, const EnvLookup& env) : m_(matches), env_(env) {}

    std::optional<std::string> read(TestOpts& opts) {
        if (auto error = read_unstable()) {
            return error;
        }
        for (const auto row : {row_of("force-run-in-process"), row_of("exclude-should-panic"),
                               row_of("fail-fast"), row_of("report-time"), row_of("ensure-time")}) {
            if (auto error = gate(row)) {
                return error;
            }
        }
        opts.force_run_in_process = m_.has(row_of("force-run-in-process"));
        opts.exclude_should_panic = m_.has(row_of("exclude-should-panic"));
        opts.fail_fast = m_.has(row_of("fail-fast"));
        opts.time_options = read_time_options();
        if (auto error = read_shuffle(opts)) {
            return error;
        }

        opts.list = m_.has(row_of("list"));
        opts.filter_exact = m_.has(row_of("exact"));
        opts.skip = m_.options[row_of("skip")].values;
        const bool bench = m_.has(row_of("bench"));
        opts.bench_benchmarks = bench;
        opts.run_tests = !bench || m_.has(row_of("test"));
        if (const auto* path = m_.value(row_of("logfile"))) {
            opts.logfile = *path;
        }
        const bool include_ignored = m_.has(row_of("include-ignored"));
        const bool ignored = m_.has(row_of("ignored"));
        if (include_ignored && ignored) {
            return "the options --include-ignored and --ignored are mutually exclusive";
        }
        opts.run_ignored = include_ignored ? RunIgnored::Yes
                           : ignored       ? RunIgnored::Only
                                           : RunIgnored::No;

        opts.nocapture = read_nocapture();
        if (auto error = read_test_threads(opts)) {
            return error;
        }
        if (auto error = read_color(opts)) {
            return error;
        }
        if (auto error = read_format(opts)) {
            return error;
        }
        opts.show_output = m_.has(row_of("show-output"));
        return std::nullopt;
    }

private:
    const Matches& m_;
    const EnvLookup& env_;
    bool unstable_ = false;

    std::optional<std::string> read_unstable() {
        const auto* value = m_.value(row_of("Z"));
        if (value == nullptr) {
            return std::nullopt;
        }
        if (!platform::env_is_set(platform::env_variable("SARNIVELLE_ALLOW_UNSTABLE"), env_)) {
            return "the option `Z` is only accepted when SARNIVELLE_ALLOW_UNSTABLE is set";
        }
        if (*value != "unstable-options") {
            return "Unrecognized option to `Z`";
        }
        unstable_ = true;
        return std::nullopt;
    }

    // The error of an option that needs unstable options when they are not enabled.
    std::optional<std::string> gate(std::size_t row) const {
        const auto& option = option_table[row];
        if (!option.gated || unstable_ || !m_.has(row)) {
            return std::nullopt;
        }
        const char* word = option.kind == options::ArgKind::Flag ? "flag" : "option";
        return "The \"" + std::string(option.long_name) + "\" " + word +
               " is only accepted with -Z unstable-options";
    }

    std::optional<TestTimeOptions> read_time_options() const {
        const bool report = m_.has(row_of("report-time"));
        const bool ensure = m_.has(row_of("ensure-time"));
        if (!report && !ensure) {
            return std::nullopt;
        }
        TestTimeOptions time;
        time.error_on_excess = ensure;
        read_threshold(platform::env_variable("SARNIVELLE_TEST_TIME_UNIT"), time.unit_threshold);
        read_threshold(platform::env_variable("SARNIVELLE_TEST_TIME_INTEGRATION"),
                       time.integration_threshold);
        read_threshold(platform::env_variable("SARNIVELLE_TEST_TIME_DOCTEST"),
                       time.doctest_threshold);
        return time;
    }

    // Keeps the default when the variable is not set.
    void read_threshold(const platform::EnvVariable& variable, TimeThreshold& threshold) const {
        if (const auto read = platform::env_thresholds(variable, env_)) {
            threshold = TimeThreshold{to_millis(read->warn), to_millis(read->critical)};
        }
    }

    // Saturates at the longest time that nanosecond arithmetic still holds, so comparing a
    // check's execution time against a huge threshold cannot overflow.
    static std::chrono::milliseconds to_millis(std::uint64_t count) {
        constexpr auto limit =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::nanoseconds::max());
        if (count > static_cast<std::uint64_t>(limit.count())) {
            return limit;
        }
        return std::chrono::milliseconds(static_cast<std::chrono::milliseconds::rep>(count));
    }

    std::optional<std::string> read_shuffle(TestOpts& opts) const {
        if (auto error = gate(row_of("shuffle"))) {
            return error;
        }
        opts.shuffle = m_.has(row_of("shuffle"));
        if (unstable_ && !opts.shuffle) {
            opts.shuffle =
                platform::env_flag(platform::env_variable("SARNIVELLE_TEST_SHUFFLE"), env_);
        }

        if (auto error = gate(row_of("shuffle-seed"))) {
            return error;
        }
        if (const auto* seed = m_.value(row_of("shuffle-seed"))) {
            const auto parsed = text::parse_unsigned(*seed);
            if (const auto* error = std::get_if<text::NumberError>(&parsed)) {
                return "argument for --shuffle-seed must be a number (error: " +
                       std::string(text::describe(*error)) + ")";
            }
            opts.shuffle_seed = std::get<std::uint64_t>(parsed);
        } else if (unstable_) {
            opts.shuffle_seed =
                platform::env_number(platform::env_variable("SARNIVELLE_TEST_SHUFFLE_SEED"), env_);
        }
        return std::nullopt;
    }

    bool read_nocapture() const {
        if (m_.has(row_of("nocapture")) || m_.has(row_of("no-capture"))) {
            return true;
        }
        return platform::env_flag(platform::env_variable("SARNIVELLE_TEST_NOCAPTURE"), env_);
    }

    std::optional<std::string> read_test_threads(TestOpts& opts) const {
        const auto* text = m_.value(row_of("test-threads"));
        if (text == nullptr) {
            return std::nullopt;
        }
        const auto parsed = text::parse_unsigned(*text);
        if (const auto* error = std::get_if<text::NumberError>(&parsed)) {
            return "argument for --test-threads must be a number > 0 (error: " +
                   std::string(text::describe(*error)) + ")";
        }
        const std::uint64_t count = std::get<std::uint64_t>(parsed);
        if (count == 0) {
            return "argument for --test-threads must not be 0";
        }
        static_assert(sizeof(std::size_t) >= sizeof(std::uint64_t));
        opts.test_threads = static_cast<std::size_t>(count);
        return std::nullopt;
    }

    std::optional<std::string> read_color(TestOpts& opts) const {
        const auto* text = m_.value(row_of("color"));
        if (text == nullptr) {
            opts.color = ColorConfig::AutoColor;
        } else if (*text == "auto") {
            opts.color = ColorConfig::AutoColor;
        } else if (*text == "always") {
            opts.color = ColorConfig::AlwaysColor;
        } else if (*text == "never") {
            opts.color = ColorConfig::NeverColor;
        } else {
            return "argument for --color must be auto, always, or never (was " + *text + ")";
        }
        return std::nullopt;
    }

    std::optional<std::string> read_format(TestOpts& opts) const {
        const auto* text = m_.value(row_of("format"));
        if (text == nullptr) {
            opts.format = m_.has(row_of("quiet")) ? OutputFormat::Terse : OutputFormat::Pretty;
        } else if (*text == "pretty") {
            opts.format = OutputFormat::Pretty;
        } else if (*text == "terse") {
            opts.format = OutputFormat::Terse;
        } else if (*text == "json" || *text == "junit") {
            if (!unstable_) {
                return "The \"" + *text + "\" format is only accepted with -Z unstable-options";
            }
            opts.format = *text == "json" ? OutputFormat::Json : OutputFormat::Junit;
        } else {
            return "argument for --format must be pretty, terse, json or junit (was " + *text + ")";
        }
        return std::nullopt;
    }
};

} // namespace

ParseResult parse_opts(const std::vector<std::string>& args, const EnvLookup& env) {
    return parse_opts(args, env, std::cout, std::cerr);
}

ParseResult parse_opts(const std::vector<std::string>& args, const EnvLookup& env,
                       std::ostream& out, std::ostream& err) {
    auto tokens = options::tokenize(args);
    if (auto* error = std::get_if<options::TokenizeError>(&tokens)) {
        return OptError{std::move(error->message)};
    }
    const auto& matches = std::get<Matches>(tokens);

    if (matches.has(row_of("help"))) {
        out << options::usage_text(args.empty() ? std::string_view("...") : args.front());
        out.flush();
        return HelpShown{};
    }

    TestOpts opts;
    opts.filters = matches.free;
    SettingsReader reader(matches, env);
    if (auto error = reader.read(opts)) {
        return OptError{std::move(*error)};
    }
    if (opts.logfile) {
        err << "warning: `--logfile` is deprecated";
        err.flush();
    }
    return opts;
}

} // namespace runner
