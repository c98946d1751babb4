// The environment variables the runner reads: one table row each, with when the variable is
// read, how its value is parsed and what an invalid value ends with. A new variable is a new
// row; the code that uses it names the row with env_variable("NAME"), which does not compile
// for a name the table lacks.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace runner::platform {

// When a variable is read (for the reader of the table; the using code decides).
enum class EnvRead {
    Options,     // while the command line is read, by the rule the option table gives
    RunStart,    // when a run starts (the thread count after the run-start line)
    CheckThread, // each time a check thread is started
    Failure,     // when a check fails
    Report,      // when the report's location is chosen
    Protocol,    // once the command line is read, before any check runs: the test protocol of a
                 // build system that runs the executable (see platform/bazel_protocol.hpp),
                 // which checks these values itself and ends with its own message
};

// How a value is parsed.
enum class EnvParse {
    AnyValue,      // set or not; the value does not matter
    NotZero,       // on when set to anything other than "0"
    Unsigned,      // an unsigned 64-bit decimal number
    PositiveCount, // an unsigned decimal number greater than zero
    Thresholds,    // "WARN,CRITICAL", two unsigned decimal numbers, WARN <= CRITICAL
    ZeroOrOne,     // "0" (off) or "1" (on)
    Seconds,       // a positive decimal number of seconds, at most three decimals
    Text,          // the value as it is
    Choice,        // one of the words the using code names
};

struct EnvVariable {
    std::string_view name;
    EnvRead when;
    EnvParse parse;
    // The panic message of an invalid value, "{}" standing for the name and then the value;
    // empty when an invalid value is taken as unset.
    std::string_view error;
};

inline constexpr EnvVariable environment_table[] = {
    {"SARNIVELLE_ALLOW_UNSTABLE", EnvRead::Options, EnvParse::AnyValue, {}},
    {"SARNIVELLE_TEST_NOCAPTURE", EnvRead::Options, EnvParse::NotZero, {}},
    {"SARNIVELLE_TEST_SHUFFLE", EnvRead::Options, EnvParse::NotZero, {}},
    {"SARNIVELLE_TEST_SHUFFLE_SEED", EnvRead::Options, EnvParse::Unsigned,
     "{} is `{}`, should be a number."},
    {"SARNIVELLE_TEST_TIME_UNIT", EnvRead::Options, EnvParse::Thresholds,
     "Duration variable {} expected to have 2 numbers separated by comma, but got {}"},
    {"SARNIVELLE_TEST_TIME_INTEGRATION", EnvRead::Options, EnvParse::Thresholds,
     "Duration variable {} expected to have 2 numbers separated by comma, but got {}"},
    {"SARNIVELLE_TEST_TIME_DOCTEST", EnvRead::Options, EnvParse::Thresholds,
     "Duration variable {} expected to have 2 numbers separated by comma, but got {}"},
    {"SARNIVELLE_TEST_THREADS", EnvRead::RunStart, EnvParse::PositiveCount,
     "{} is `{}`, should be a positive integer."},
    {"SARNIVELLE_TEST_RETRIES", EnvRead::RunStart, EnvParse::Unsigned,
     "{} is `{}`, should be a number."},
    {"SARNIVELLE_TEST_FLAKY", EnvRead::RunStart, EnvParse::Choice,
     "{} is `{}`, should be `pass` or `fail`."},
    {"SARNIVELLE_TEST_ISOLATE", EnvRead::RunStart, EnvParse::ZeroOrOne,
     "{} is `{}`, should be 0 or 1."},
    {"SARNIVELLE_TEST_TIMEOUT", EnvRead::RunStart, EnvParse::Seconds,
     "{} is `{}`, should be a positive number of seconds."},
    {"SARNIVELLE_MIN_STACK", EnvRead::CheckThread, EnvParse::Unsigned, {}},
    {"SARNIVELLE_BACKTRACE", EnvRead::Failure, EnvParse::NotZero, {}},
    {"TERM", EnvRead::Report, EnvParse::Text, {}},
    {"TEST_TOTAL_SHARDS", EnvRead::Protocol, EnvParse::PositiveCount, {}},
    {"TEST_SHARD_INDEX", EnvRead::Protocol, EnvParse::Unsigned, {}},
    {"TEST_SHARD_STATUS_FILE", EnvRead::Protocol, EnvParse::Text, {}},
    {"XML_OUTPUT_FILE", EnvRead::Protocol, EnvParse::Text, {}},
    {"TEST_PREMATURE_EXIT_FILE", EnvRead::Protocol, EnvParse::Text, {}},
    {"SARNIVELLE_TEST_TRACE", EnvRead::Protocol, EnvParse::Text, {}},
    {"TEST_UNDECLARED_OUTPUTS_DIR", EnvRead::Protocol, EnvParse::Text, {}},
};

consteval const EnvVariable& env_variable(std::string_view name) {
    for (const EnvVariable& variable : environment_table) {
        if (variable.name == name) {
            return variable;
        }
    }
    throw "not a variable of the environment table";
}

// The NotZero rule: on when set to anything other than "0".
constexpr bool is_not_zero(std::string_view value) {
    return value != "0";
}

// A NotZero row read from the process environment, allocating nothing: for the failure path of
// the check library, which links none of the rest of the runner. The table's names are string
// literals, so each name is followed by its terminating zero.
inline bool process_env_flag(const EnvVariable& variable) {
    const char* value = std::getenv(variable.name.data());
    return value != nullptr && is_not_zero(value);
}

// Looks up a variable; the process environment by default, a map in tests.
using EnvLookup = std::function<std::optional<std::string>(std::string_view name)>;
std::optional<std::string> process_env(std::string_view name);

// Reading a variable by its row. Nothing when it is unset, or when its value is invalid and the
// row has no error text; an invalid value of a row with an error text ends with a panic.
bool env_is_set(const EnvVariable& variable, const EnvLookup& env = process_env); // AnyValue
bool env_flag(const EnvVariable& variable, const EnvLookup& env = process_env);   // NotZero
std::optional<std::uint64_t> env_number(const EnvVariable& variable,
                                        const EnvLookup& env = process_env);
struct Thresholds {
    std::uint64_t warn = 0;
    std::uint64_t critical = 0;
};
std::optional<Thresholds> env_thresholds(const EnvVariable& variable,
                                         const EnvLookup& env = process_env);
// ZeroOrOne: nothing when unset.
std::optional<bool> env_zero_or_one(const EnvVariable& variable,
                                    const EnvLookup& env = process_env);
// Seconds, in milliseconds.
std::optional<std::chrono::milliseconds> env_seconds(const EnvVariable& variable,
                                                     const EnvLookup& env = process_env);
std::optional<std::string> env_text(const EnvVariable& variable,
                                    const EnvLookup& env = process_env);
// Choice: the place of the value among `words`; nothing when unset.
std::optional<std::size_t> env_choice(const EnvVariable& variable,
                                      std::span<const std::string_view> words,
                                      const EnvLookup& env = process_env);

} // namespace runner::platform
