#include "options/usage.hpp"

#include "options/option_table.hpp"

namespace runner::options {

namespace {

// Descriptions start in this column; a row whose names reach it puts them on a line of their
// own.
constexpr std::size_t description_column = 24;
constexpr std::size_t description_width = 54;

constexpr std::string_view help_paragraphs =
    R"(The FILTER string is tested against the name of all tests, and only those
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
        `ignore_message` tells why.)";

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string option_row(const OptionRow& row) {
    std::string text = "    ";
    if (row.short_name != '\0') {
        text += '-';
        text += row.short_name;
        text += row.long_name.empty() ? " " : ", ";
    } else {
        text += "    ";
    }
    if (!row.long_name.empty()) {
        text += "--";
        text += row.long_name;
        text += ' ';
    }
    if (row.kind != ArgKind::Flag) {
        text += row.hint;
    }
    if (text.size() < description_column) {
        text.resize(description_column, ' ');
    } else {
        text += '\n';
        text.append(description_column, ' ');
    }
    const auto pieces = pack_description(row.description, description_width);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) {
            text += '\n';
            text.append(description_column, ' ');
        }
        text += pieces[i];
    }
    return text;
}

} // namespace

std::vector<std::string> pack_description(std::string_view description, std::size_t width) {
    std::vector<std::string> pieces;
    std::size_t line_start = 0;
    while (line_start <= description.size()) {
        auto line_end = description.find('\n', line_start);
        if (line_end == std::string_view::npos) {
            line_end = description.size();
        }
        const std::string_view line = description.substr(line_start, line_end - line_start);
        std::string piece;
        std::size_t pos = 0;
        while (pos < line.size()) {
            if (is_space(line[pos])) {
                ++pos;
                continue;
            }
            std::size_t end = pos;
            while (end < line.size() && !is_space(line[end])) {
                ++end;
            }
            const std::string_view word = line.substr(pos, end - pos);
            pos = end;
            if (!piece.empty() && piece.size() + 1 + word.size() > width) {
                pieces.push_back(std::move(piece));
                piece.clear();
            }
            if (!piece.empty()) {
                piece += ' ';
            }
            piece += word;
        }
        if (!piece.empty()) {
            pieces.push_back(std::move(piece));
        }
        line_start = line_end + 1;
    }
    return pieces;
}

std::string usage_text(std::string_view program) {
    std::string text = "Usage: ";
    text += program;
    text += " [OPTIONS] [FILTERS...]\n\nOptions:\n";
    bool first = true;
    for (const auto& row : option_table) {
        if (row.hidden) {
            continue;
        }
        if (!first) {
            text += '\n';
        }
        first = false;
        text += option_row(row);
    }
    text += "\n\n";
    text += help_paragraphs;
    text += '\n';
    return text;
}

} // namespace runner::options
