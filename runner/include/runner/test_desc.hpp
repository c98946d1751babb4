// Check descriptors: what the runner knows about one check before it runs it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "runner/source_location.hpp"

namespace runner {

class Bencher;

// The kind of a check; it chooses the time thresholds of --report-time and --ensure-time.
enum class TestType { UnitTest, IntegrationTest, DocTest, Unknown };

// Whether a check is expected to fail, and optionally a text its failure message must contain.
enum class ShouldPanicKind { No, Yes, YesWithMessage };

struct ShouldPanic {
    ShouldPanicKind kind = ShouldPanicKind::No;
    std::string_view expected; // only for YesWithMessage
};

// One check. Every text is static: descriptors are built at compile time and never freed.
struct TestDesc {
    std::string_view name; // "module::tests::check_name"
    bool ignore = false;
    std::optional<std::string_view> ignore_message;
    std::string_view source_file; // relative to the repository root; may be empty
    std::uint32_t start_line = 0;
    std::uint32_t start_col = 0;
    std::uint32_t end_line = 0;
    std::uint32_t end_col = 0; // one past the last column of the name
    ShouldPanic should_panic;
    // Labels of checks that are only compiled, or expected not to compile; the report shows them,
    // though nothing here sets them: checks of this runner are always built and run.
    bool compile_fail = false;
    bool no_run = false;
    TestType test_type = TestType::UnitTest;
};

// The Dyn kinds are bodies made at run time: the static registry never holds one, and
// test_main_static refuses them.
enum class TestFnKind { StaticTestFn, StaticBenchFn, DynTestFn, DynBenchFn };

// A check body: returns normally on success, or fails by panicking (see check.hpp).
using StaticCheckFn = void (*)();
using StaticBenchFn = void (*)(Bencher&);

// A registry entry: constant data, built at compile time.
struct StaticTestDescAndFn {
    TestDesc desc;
    TestFnKind kind = TestFnKind::StaticTestFn;
    StaticCheckFn test = nullptr;
    StaticBenchFn bench = nullptr;
};

// What a check function returns to the runner: nothing on success, else an error text.
using CheckResult = std::optional<std::string>;

// The runner's own, owned form of a check.
struct TestDescAndFn {
    TestDesc desc;
    TestFnKind kind = TestFnKind::DynTestFn;
    std::function<CheckResult()> test;   // for the test kinds
    std::function<void(Bencher&)> bench; // for the bench kinds

    bool is_bench() const {
        return kind == TestFnKind::StaticBenchFn || kind == TestFnKind::DynBenchFn;
    }
};

// What a check may declare beyond its name, as the third argument of SARNIVELLE_CHECK:
//
//     SARNIVELLE_CHECK(mine, waits_for_the_new_table, ignored) { ... }
//     SARNIVELLE_CHECK(mine, needs_a_terminal, ignored("needs a terminal")) { ... }
//     SARNIVELLE_CHECK(mine, rejects_nan, expected_failure) { ... }
//     SARNIVELLE_CHECK(mine, rejects_nan_by_name, expected_failure("NaN")) { ... }
//
// An ignored check is reported but not run (`--ignored` and `--include-ignored` run it); an
// expected failure passes when its body fails (with a message that contains the text, when one
// is given) and fails when its body returns.
namespace check_attributes {

struct Attributes {
    bool ignore = false;
    std::optional<std::string_view> ignore_message;
    ShouldPanic should_panic;
};

struct Ignored : Attributes {
    consteval Ignored() : Attributes{true, std::nullopt, {}} {}
    consteval Attributes operator()(std::string_view reason) const { return {true, reason, {}}; }
};
inline constexpr Ignored ignored;

struct ExpectedFailure : Attributes {
    consteval ExpectedFailure() : Attributes{false, std::nullopt, {ShouldPanicKind::Yes, {}}} {}
    consteval Attributes operator()(std::string_view expected) const {
        return {false, std::nullopt, {ShouldPanicKind::YesWithMessage, expected}};
    }
};
inline constexpr ExpectedFailure expected_failure;

} // namespace check_attributes

namespace detail {
// The descriptor of a check declared on one line as `SARNIVELLE_CHECK(module, name)` or
// `SARNIVELLE_CHECK(module, name, attributes)`, whose attributes are spelt `attributes_text`
// (empty when there are none). The runner's own tests declare checks with a macro of their own,
// whose name with the opening parenthesis is `macro_head`.
consteval StaticTestDescAndFn make_static_check(std::string_view full_name,
                                                std::string_view own_name, std::string_view module,
                                                std::string_view attributes_text,
                                                SourceLocation site, StaticCheckFn fn,
                                                check_attributes::Attributes attributes = {},
                                                std::string_view macro_head = "SARNIVELLE_CHECK(") {
    // The name starts after the macro's opening parenthesis, the module, a comma and one space,
    // and ends at the closing parenthesis or at the comma and space before the attributes.
    const std::size_t tail = attributes_text.empty() ? 0 : attributes_text.size() + 2;
    const auto name_col =
        SourceLocation::macro_position_at_end
            ? static_cast<std::uint32_t>(site.column() - tail - own_name.size())
            : static_cast<std::uint32_t>(site.column() + macro_head.size() + module.size() + 2);
    StaticTestDescAndFn check;
    check.desc.name = full_name;
    check.desc.ignore = attributes.ignore;
    check.desc.ignore_message = attributes.ignore_message;
    check.desc.source_file = site.file_name();
    check.desc.start_line = site.line();
    check.desc.end_line = site.line();
    check.desc.start_col = name_col;
    check.desc.end_col = name_col + static_cast<std::uint32_t>(own_name.size());
    check.desc.should_panic = attributes.should_panic;
    check.kind = TestFnKind::StaticTestFn;
    check.test = fn;
    return check;
}
} // namespace detail

} // namespace runner

// Every SARNIVELLE_CHECK also leaves a record of itself: a pointer to its descriptor in the
// section `sarnivelle_checks` of the executable or shared library it is linked into. Each of
// those carries one note (`.note.sarnivelle`, type 0x4b434853) that holds the bounds of its own
// records relative to the note, so the runner finds every module's records through the loaded
// program headers, without static constructors (runner::all_defined_checks). The note is
// written once per translation unit and merged into one per module.
#define SARNIVELLE_DETAIL_CHECK_NOTE                                                               \
    asm(".ifndef .Lsarnivelle_checks_note\n"                                                       \
        ".set .Lsarnivelle_checks_note, 1\n"                                                       \
        ".pushsection .note.sarnivelle,\"aG\",@note,sarnivelle_checks_note,comdat\n"               \
        ".balign 4\n"                                                                              \
        ".long 11\n"                                                                               \
        ".long 8\n"                                                                                \
        ".long 0x4b434853\n"                                                                       \
        ".asciz \"sarnivelle\"\n"                                                                  \
        ".balign 4\n"                                                                              \
        ".hidden __start_sarnivelle_checks\n"                                                      \
        ".hidden __stop_sarnivelle_checks\n"                                                       \
        ".long __start_sarnivelle_checks - .\n"                                                    \
        ".long __stop_sarnivelle_checks - .\n"                                                     \
        ".popsection\n"                                                                            \
        ".endif\n")

// Declares and defines a check of `module` (the module's own name, e.g. `height`), inside the
// module's `tests` namespace, together with its registry entry `name##_check` and its record.
// The entry records where the check's name stands in the source, so failure reports point at
// it; keep the declaration on one line, with a comma and one space between the arguments:
//
//     SARNIVELLE_CHECK(height, slope_flat_terrain_is_zero) {
//         ...
//     }
//
// An optional third argument is one attribute of runner::check_attributes (see above).
#define SARNIVELLE_CHECK(module, name, ...)                                                        \
    void name();                                                                                   \
    extern constinit const ::runner::StaticTestDescAndFn name##_check;                             \
    constinit const ::runner::StaticTestDescAndFn name##_check =                                   \
        ::runner::detail::make_static_check(                                                       \
            #module "::tests::" #name, #name, #module, #__VA_ARGS__,                               \
            ::runner::SourceLocation::current(),                                                   \
            &name __VA_OPT__(, ::runner::check_attributes::__VA_ARGS__));                          \
    [[gnu::used,                                                                                   \
      gnu::section("sarnivelle_checks")]] constinit const ::runner::StaticTestDescAndFn* const     \
        name##_record = &name##_check;                                                             \
    SARNIVELLE_DETAIL_CHECK_NOTE;                                                                  \
    void name()
