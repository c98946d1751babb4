#include "platform/environment.hpp"

#include <cstdlib>
#include <string>
#include <variant>

#include "runner/check.hpp"
#include "text/parse_number.hpp"

namespace runner::platform {
namespace {

[[noreturn]] void invalid(std::string_view error, std::string_view name, std::string_view value) {
    panic(format(error, name, value));
}

} // namespace

std::optional<std::string> process_env(std::string_view name) {
    // The names the runner reads fit the buffer: no allocation for a lookup that finds nothing,
    // as the stack size's does once per check.
    char buffer[64];
    std::string long_name;
    const char* c_name = buffer;
    if (name.size() < sizeof buffer) {
        name.copy(buffer, name.size());
        buffer[name.size()] = '\0';
    } else {
        long_name = name;
        c_name = long_name.c_str();
    }
    const char* value = std::getenv(c_name);
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

bool env_is_set(const EnvVariable& variable, const EnvLookup& env) {
    return env(variable.name).has_value();
}

bool env_flag(const EnvVariable& variable, const EnvLookup& env) {
    const auto value = env(variable.name);
    return value && is_not_zero(*value);
}

std::optional<std::uint64_t> env_number(const EnvVariable& variable, const EnvLookup& env) {
    const auto value = env(variable.name);
    if (!value) {
        return std::nullopt;
    }
    const auto parsed = text::parse_unsigned(*value);
    const auto* number = std::get_if<std::uint64_t>(&parsed);
    if (number != nullptr && (variable.parse != EnvParse::PositiveCount || *number > 0)) {
        return *number;
    }
    if (!variable.error.empty()) {
        invalid(variable.error, variable.name, *value);
    }
    return std::nullopt;
}

std::optional<Thresholds> env_thresholds(const EnvVariable& variable, const EnvLookup& env) {
    const auto value = env(variable.name);
    if (!value) {
        return std::nullopt;
    }
    const std::string_view pair = *value;
    const std::size_t comma = pair.find(',');
    if (comma == std::string_view::npos) {
        invalid(variable.error, variable.name, pair);
    }
    const auto side = [&](std::string_view number) {
        const auto parsed = text::parse_unsigned(number);
        if (const auto* result = std::get_if<std::uint64_t>(&parsed)) {
            return *result;
        }
        invalid("Duration value in variable {} is expected to be a number, but got {}",
                variable.name, number);
    };
    const Thresholds thresholds{side(pair.substr(0, comma)), side(pair.substr(comma + 1))};
    if (thresholds.warn > thresholds.critical) {
        panic("Test execution warn time should be less or equal to the critical time");
    }
    return thresholds;
}

std::optional<bool> env_zero_or_one(const EnvVariable& variable, const EnvLookup& env) {
    const auto value = env(variable.name);
    if (!value) {
        return std::nullopt;
    }
    if (*value != "0" && *value != "1") {
        invalid(variable.error, variable.name, *value);
    }
    return *value == "1";
}

std::optional<std::chrono::milliseconds> env_seconds(const EnvVariable& variable,
                                                     const EnvLookup& env) {
    const auto value = env(variable.name);
    if (!value) {
        return std::nullopt;
    }
    // Whole seconds, then up to three decimals; checked digit by digit so that no value can
    // overflow: more than a million seconds is refused too.
    const std::string_view text = *value;
    const std::size_t dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    const std::string_view fraction =
        dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    const auto digits = [](std::string_view part) {
        return part.find_first_not_of("0123456789") == std::string_view::npos;
    };
    std::int64_t milliseconds = 0;
    bool valid = !whole.empty() && whole.size() <= 7 && digits(whole) && fraction.size() <= 3 &&
                 digits(fraction) && (dot == std::string_view::npos || !fraction.empty());
    if (valid) {
        for (const char c : whole) {
            milliseconds = milliseconds * 10 + (c - '0');
        }
        for (std::size_t i = 0; i < 3; ++i) {
            milliseconds = milliseconds * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
        }
        valid = milliseconds > 0;
    }
    if (!valid) {
        invalid(variable.error, variable.name, text);
    }
    return std::chrono::milliseconds(milliseconds);
}

std::optional<std::string> env_text(const EnvVariable& variable, const EnvLookup& env) {
    return env(variable.name);
}

std::optional<std::size_t> env_choice(const EnvVariable& variable,
                                      std::span<const std::string_view> words,
                                      const EnvLookup& env) {
    const auto value = env(variable.name);
    if (!value) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (*value == words[i]) {
            return i;
        }
    }
    invalid(variable.error, variable.name, *value);
}

} // namespace runner::platform
