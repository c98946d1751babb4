// What the whole-program tests of the run loop share: running the fixture registry as a child
// process, masking what differs between runs, and the texts the default report is made of.
//
// Times and thread numbers differ from run to run and are masked. Where checks run in parallel
// and their completion order is not fixed, the result lines are compared as a set.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "child_process.hpp"

namespace run_loop_tests {

using namespace test_support;

using Env = std::vector<std::pair<std::string, std::string>>;

inline const Env sequential = {{"SARNIVELLE_TEST_THREADS", "1"}};
inline const Env parallel = {{"SARNIVELLE_TEST_THREADS", "2"}};
inline const Env unstable = {{"SARNIVELLE_ALLOW_UNSTABLE", "1"}};

constexpr std::size_t registry_size = 33; // one of them a benchmark
constexpr std::string_view fixture_file = "tests/run_loop/fixture_checks.cpp";
constexpr std::string_view backtrace_note =
    "note: run with `SARNIVELLE_BACKTRACE=1` environment variable to display a backtrace\n";

inline Env with(Env env, const Env& more) {
    env.insert(env.end(), more.begin(), more.end());
    return env;
}

inline ChildResult run_fixture(std::vector<std::string> args, const Env& env,
                               StdoutTarget target = StdoutTarget::Pipe) {
    ChildSpec child;
    child.args = std::move(args);
    child.env = env;
    child.stdout_target = target;
    ChildResult result = run_child(FIXTURE_BINARY, child);
    EXPECT_FALSE(result.timed_out) << "the fixture did not finish; output so far:\n"
                                   << result.out << result.err;
    return result;
}

// Replaces each run of digits and dots that stands between `before` and `after` by `mask`,
// together with the first `unit` characters of `after` (the "s" of a time).
// (std::regex would do, but g++ 12 warns falsely inside it under the sanitizers.)
inline std::string mask_numbers(std::string text, std::string_view before, std::string_view after,
                                std::string_view mask, std::size_t unit = 0) {
    std::size_t at = 0;
    while ((at = text.find(before, at)) != std::string::npos) {
        const std::size_t start = at + before.size();
        std::size_t end = start;
        while (end < text.size() &&
               (std::isdigit(static_cast<unsigned char>(text[end])) != 0 || text[end] == '.')) {
            ++end;
        }
        if (end > start && text.compare(end, after.size(), after) == 0) {
            text.replace(start, end - start + unit, mask);
            at = start + mask.size();
        } else {
            at = start;
        }
    }
    return text;
}

// Replaces what differs between runs: the suite time, check times and thread numbers.
inline std::string masked(const std::string& report) {
    std::string text = mask_numbers(report, "finished in ", "s\n", "<T>", 1);
    text = mask_numbers(std::move(text), " <", "s>", "T", 1);
    return mask_numbers(std::move(text), "' (", ") panicked at ", "<ID>");
}

// One result line: "test {name} ... {word}".
inline std::string line(std::string_view name, std::string_view word) {
    return "test " + std::string(name) + " ... " + std::string(word) + "\n";
}

inline std::string summary(std::string_view word, std::size_t passed, std::size_t failed,
                           std::size_t ignored, std::size_t selected) {
    return "\ntest result: " + std::string(word) + ". " + std::to_string(passed) + " passed; " +
           std::to_string(failed) + " failed; " + std::to_string(ignored) +
           " ignored; 0 measured; " + std::to_string(registry_size - selected) +
           " filtered out; finished in <T>\n\n";
}

inline std::size_t occurrences(std::string_view text, std::string_view needle) {
    std::size_t count = 0;
    for (auto at = text.find(needle); at != std::string_view::npos;
         at = text.find(needle, at + needle.size())) {
        ++count;
    }
    return count;
}

// A position in the fixture's source, found by a text that occurs there exactly once.
struct Site {
    std::size_t line = 0;
    std::size_t column = 0;

    std::string text() const {
        return std::string(fixture_file) + ":" + std::to_string(line) + ":" +
               std::to_string(column);
    }
};

inline Site site_of(std::string_view needle) {
    std::ifstream source(FIXTURE_SOURCE);
    std::string line;
    Site found;
    std::size_t number = 0;
    std::size_t matches = 0;
    while (std::getline(source, line)) {
        ++number;
        if (const auto at = line.find(needle); at != std::string::npos) {
            found = {number, at + 1};
            matches += occurrences(line, needle);
        }
    }
    EXPECT_EQ(matches, 1u) << needle;
    return found;
}

// Where a failure raised by calling a function is located: g++ places it at the last opening
// parenthesis of `call`, which begins the argument list of the failing call; clang at the start
// of the called name.
inline Site call_site(std::string_view call) {
    Site site = site_of(call);
#if !defined(__clang__)
    site.column += call.rfind('(');
#endif
    return site;
}

// Where a failure raised by an assertion macro whose invocation starts with `head` is located:
// g++ places it at the macro's name; clang at the parenthesis that closes the invocation, which
// may stand on a later line.
inline Site macro_site(std::string_view head) {
    Site site = site_of(head);
#if defined(__clang__)
    std::ifstream source(FIXTURE_SOURCE);
    std::string line;
    for (std::size_t number = 1; number < site.line; ++number) {
        std::getline(source, line);
    }
    std::size_t depth = 0;
    bool in_text = false;
    std::size_t at = site.column - 1;
    while (std::getline(source, line)) {
        for (; at < line.size(); ++at) {
            const char c = line[at];
            if (in_text) {
                at += c == '\\' ? 1 : 0;
                in_text = c != '"';
            } else if (c == '"') {
                in_text = true;
            } else if (c == '(') {
                ++depth;
            } else if (c == ')' && --depth == 0) {
                site.column = at + 1;
                return site;
            }
        }
        ++site.line;
        at = 0;
    }
    ADD_FAILURE() << "no closing parenthesis for " << head;
#endif
    return site;
}

// The span of a check's name in its declaration.
inline Site declaration_of(std::string_view group, std::string_view name) {
    const std::string head = "FIXTURE_CHECK(" + std::string(group) + ", ";
    Site site = site_of(head + std::string(name) + (name.ends_with(")") ? "" : ","));
    site.column += head.size();
    return site;
}

// The captured panic report of a check, with the thread number masked.
inline std::string panic_report(std::string_view check, const Site& site, std::string_view message,
                                bool first_panic) {
    return "\nthread '" + std::string(check) + "' (<ID>) panicked at " + site.text() + ":\n" +
           std::string(message) + "\n" + (first_panic ? std::string(backtrace_note) : "");
}

inline std::string section(std::string_view title,
                           const std::vector<std::pair<std::string, std::string>>& outputs,
                           std::vector<std::string> names) {
    std::string text = "\n" + std::string(title) + ":\n";
    bool any_output = false;
    for (const auto& [name, output] : outputs) {
        if (!output.empty()) {
            if (!any_output) {
                text += "\n";
                any_output = true;
            }
            text += "---- " + name + " stdout ----\n" + output + "\n";
        }
    }
    text += "\n" + std::string(title) + ":\n";
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        text += "    " + name + "\n";
    }
    return text;
}

inline void expect_exit(const ChildResult& result, int status) {
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_status, status);
    EXPECT_EQ(result.err, "");
}

// The captured output of the first `fail::` check, the first of the run to panic.
inline const std::string eq_check = "fail::tests::assert_eq_floats";
inline std::string eq_output() {
    return panic_report(eq_check, macro_site("SARNIVELLE_ASSERT_EQ(height, 40.0f)"),
                        "assertion `left == right` failed\n  left: 39.999996\n right: 40", true);
}

// The captured output of `order::tests::a_fails_late` (`which` is 'a') or of `b_fails_early`.
inline const std::string a_check = "order::tests::a_fails_late";
inline const std::string b_check = "order::tests::b_fails_early";
inline std::string order_output(char which, bool first_panic) {
    const std::string message = std::string(1, which) + " failed";
    return std::string(1, which) + " was here\n" +
           panic_report(which == 'a' ? a_check : b_check,
                        call_site("runner::panic(\"" + message + "\")"), message, first_panic);
}

// The captured output of `check` as a report section shows it: from its heading to the next
// heading or the section's closing title.
inline std::string captured_output_of(const std::string& report, const std::string& check) {
    const std::string heading = "---- " + check + " stdout ----\n";
    const auto start = report.find(heading);
    if (start == std::string::npos) {
        return "<no output section for " + check + ">";
    }
    const auto body = start + heading.size();
    auto end = report.size();
    for (const std::string_view next :
         {"\n---- ", "\n\nfailures:\n", "\n\nfailures (time limit exceeded):\n",
          "\n\nsuccesses:\n"}) {
        end = std::min(end, report.find(next, body));
    }
    return report.substr(body, end - body);
}

} // namespace run_loop_tests
