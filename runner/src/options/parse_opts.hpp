// Reading the command line and the environment into the runner's settings.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/environment.hpp"
#include "runner/options.hpp"

namespace runner {

using platform::EnvLookup;
using platform::process_env;

struct HelpShown {};
struct OptError {
    std::string message; // without the "error: " prefix
};
using ParseResult = std::variant<HelpShown, OptError, TestOpts>;

// Parses `args` (argument 0 is the program path). Help prints the usage text to standard
// output; the deprecation warning of --logfile goes to standard error. Invalid environment
// values fail on the calling thread with a panic.
ParseResult parse_opts(const std::vector<std::string>& args, const EnvLookup& env = process_env);

// The same, writing the usage text to `out` and warnings to `err`.
ParseResult parse_opts(const std::vector<std::string>& args, const EnvLookup& env,
                       std::ostream& out, std::ostream& err);

} // namespace runner
