// Splitting the argument vector into options (matched against the option table) and free
// arguments.
#pragma once

#include <array>
#include <string>
#include <variant>
#include <vector>

#include "options/option_table.hpp"

namespace runner::options {

// What the command line said about one option of the table.
struct Occurrence {
    bool present = false;
    std::vector<std::string> values; // one per occurrence for value and multi options
};

struct Matches {
    std::array<Occurrence, option_count> options;
    std::vector<std::string> free; // the filters, in order

    bool has(std::size_t row) const { return options[row].present; }
    // The value of a value option, or nullptr when it was not given.
    const std::string* value(std::size_t row) const {
        const auto& occurrence = options[row];
        return occurrence.values.empty() ? nullptr : &occurrence.values.front();
    }
};

struct TokenizeError {
    std::string message;
};

// Looks at every argument after argument 0 in order; the first mistake found is returned.
// "--" ends the options; "--name", "--name=value", "-x", grouped short flags "-qh" and attached
// short values "-Zvalue" name options; any other argument, "-" included, is a free argument.
std::variant<Matches, TokenizeError> tokenize(const std::vector<std::string>& args);

} // namespace runner::options
