// Feeds arbitrary argument vectors and environments to the command-line parser. The parser must
// answer every input with help, an error text or settings, or with a panic for an invalid
// environment value, and never crash, hang or touch memory it does not own.
//
// Input layout: NUL-separated fields. The first field is the environment, one NAME=VALUE per
// line; every later field is one argument after argument 0.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "check/thread_context.hpp"
#include "options/parse_opts.hpp"
#include "runner/check.hpp"

namespace {

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true) {
        const auto end = text.find(separator, start);
        fields.emplace_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) {
            return fields;
        }
        start = end + 1;
    }
}

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> fields = split(input, '\0');

    std::map<std::string, std::string, std::less<>> vars;
    for (const auto& line : split(fields.front(), '\n')) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) {
            vars[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    std::vector<std::string> args{"fuzz"};
    args.insert(args.end(), fields.begin() + 1, fields.end());

    const runner::EnvLookup env = [&vars](std::string_view name) -> std::optional<std::string> {
        const auto found = vars.find(name);
        if (found == vars.end()) {
            return std::nullopt;
        }
        return found->second;
    };

    // A panic's report goes into this capture rather than onto the fuzzer's output.
    runner::detail::enter_thread("fuzz", std::make_shared<runner::detail::OutputCapture>());
    std::ostringstream out;
    std::ostringstream err;
    try {
        const runner::ParseResult result = runner::parse_opts(args, env, out, err);
        if (std::holds_alternative<runner::HelpShown>(result)) {
            require(out.str().starts_with("Usage: fuzz [OPTIONS] [FILTERS...]\n"));
        } else if (const auto* error = std::get_if<runner::OptError>(&result)) {
            require(!error->message.empty());
            require(out.str().empty() && err.str().empty());
        } else {
            const auto& opts = std::get<runner::TestOpts>(result);
            require(out.str().empty());
            require(!opts.test_threads || *opts.test_threads > 0);
            require(opts.run_tests || opts.bench_benchmarks);
        }
    } catch (const runner::Panic& failure) {
        require(!failure.payload().message().empty());
    }
    return 0;
}
