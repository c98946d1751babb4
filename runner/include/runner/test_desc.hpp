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

namespace detail {
// What a check declares beyond its name. The registry's checks declare nothing; the runner's own
// tests declare ignored checks and checks that expect a panic.
struct CheckTraits {
    bool ignore = false;
    std::optional<std::string_view> ignore_message;
    ShouldPanic should_panic;
};

// How the declaring macro is written: its name with the opening parenthesis, and the length of
// what stands between the check's name and the closing parenthesis.
struct MacroShape {
    std::string_view head = "SARNIVELLE_CHECK(";
    std::size_t tail = 0;
};

consteval StaticTestDescAndFn make_static_check(std::string_view full_name,
                                                std::string_view own_name, std::string_view module,
                                                SourceLocation site, StaticCheckFn fn,
                                                CheckTraits traits = {}, MacroShape shape = {}) {
    // The declaring macro stands on one line as `SARNIVELLE_CHECK(module, name)`: the name
    // starts after the macro's opening parenthesis, the module, a comma and one space, and ends
    // where the tail before the closing parenthesis starts.
    const auto name_col =
        SourceLocation::macro_position_at_end
            ? static_cast<std::uint32_t>(site.column() - shape.tail - own_name.size())
            : static_cast<std::uint32_t>(site.column() + shape.head.size() + module.size() + 2);
    StaticTestDescAndFn check;
    check.desc.name = full_name;
    check.desc.ignore = traits.ignore;
    check.desc.ignore_message = traits.ignore_message;
    check.desc.should_panic = traits.should_panic;
    check.desc.source_file = site.file_name();
    check.desc.start_line = site.line();
    check.desc.end_line = site.line();
    check.desc.start_col = name_col;
    check.desc.end_col = name_col + static_cast<std::uint32_t>(own_name.size());
    check.kind = TestFnKind::StaticTestFn;
    check.test = fn;
    return check;
}
} // namespace detail

} // namespace runner

// Declares and defines a check of `module` (the module's own name, e.g. `height`), inside the
// module's `tests` namespace, together with its registry entry `name##_check`. The entry
// records where the check's name stands in the source, so failure reports point at it:
//
//     SARNIVELLE_CHECK(height, slope_flat_terrain_is_zero) {
//         ...
//     }
#define SARNIVELLE_CHECK(module, name)                                                             \
    void name();                                                                                   \
    extern constinit const ::runner::StaticTestDescAndFn name##_check;                             \
    constinit const ::runner::StaticTestDescAndFn name##_check =                                   \
        ::runner::detail::make_static_check(#module "::tests::" #name, #name, #module,             \
                                            ::runner::SourceLocation::current(), &name);           \
    void name()
