// A registry made for the runner's own tests: checks that pass, fail in each way the runner
// tells apart, print on every stream, start threads, overrun the deadline and crash. The
// end-to-end tests run this executable with filters that pick one group by its name prefix;
// the `crash` checks end the process, so they are only ever selected one at a time.
//
// Some tests locate the failing lines of this file by their text, so keep each failing
// statement unique.
#include <pthread.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <optional>
#include <string_view>
#include <thread>

#include "runner/bencher.hpp"
#include "runner/check.hpp"
#include "runner/runner.hpp"
#include "runner/source_location.hpp"
#include "runner/test_desc.hpp"

namespace fixture {

using Traits = runner::check_attributes::Attributes;

consteval Traits ignored() {
    return {.ignore = true, .ignore_message = {}, .should_panic = {}};
}
consteval Traits ignored(std::string_view message) {
    return {.ignore = true, .ignore_message = message, .should_panic = {}};
}
consteval Traits should_panic() {
    return {
        .ignore = false, .ignore_message = {}, .should_panic = {runner::ShouldPanicKind::Yes, {}}};
}
consteval Traits should_panic(std::string_view expected) {
    return {.ignore = false,
            .ignore_message = {},
            .should_panic = {runner::ShouldPanicKind::YesWithMessage, expected}};
}

// The descriptor of a check declared on one line as `FIXTURE_CHECK(group, name, traits...)` (or
// `FIXTURE_BENCH(group, name)`, a macro name of the same length), made by the product's own
// builder: its source span is that of `name` in the declaration. `traits_text` is the spelling
// of the traits, empty when there are none.
consteval runner::StaticTestDescAndFn make_check(std::string_view full_name,
                                                 std::string_view own_name, std::string_view group,
                                                 std::string_view traits_text,
                                                 runner::SourceLocation site,
                                                 runner::StaticCheckFn fn, Traits traits = {}) {
    return runner::detail::make_static_check(full_name, own_name, group, traits_text, site, fn,
                                             traits, "FIXTURE_CHECK(");
}

consteval runner::StaticTestDescAndFn as_bench(runner::StaticTestDescAndFn check,
                                               runner::StaticBenchFn fn) {
    check.kind = runner::TestFnKind::StaticBenchFn;
    check.bench = fn;
    return check;
}

void sleep_ms(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace fixture

#define FIXTURE_CHECK(group, name, ...)                                                            \
    void name();                                                                                   \
    constinit const ::runner::StaticTestDescAndFn name##_check = ::fixture::make_check(            \
        #group "::tests::" #name, #name, #group, #__VA_ARGS__,                                     \
        ::runner::SourceLocation::current(), &name __VA_OPT__(, ) __VA_ARGS__);                    \
    void name()

#define FIXTURE_BENCH(group, name)                                                                 \
    void name(::runner::Bencher&);                                                                 \
    constinit const ::runner::StaticTestDescAndFn name##_check =                                   \
        ::fixture::as_bench(::fixture::make_check(#group "::tests::" #name, #name, #group, "",     \
                                                  ::runner::SourceLocation::current(), nullptr),   \
                            &name);                                                                \
    void name(::runner::Bencher& bencher)

// ---- bench: a benchmark, which runs once as a check unless benchmarks are asked for ----------

namespace bench::tests {

FIXTURE_BENCH(bench, sums_a_range) {
    bencher.iter([] {
        volatile unsigned sum = 0;
        for (unsigned i = 0; i < 64; ++i) {
            sum = sum + i;
        }
    });
}

} // namespace bench::tests

// ---- crash: each ends the whole process -------------------------------------------------------

namespace crash::tests {

// Not instrumented by the undefined-behaviour sanitizer, so the write really reaches the
// processor and faults.
__attribute__((no_sanitize("undefined"))) void write_through_null() {
    volatile int* volatile target = nullptr;
    *target = 1;
}

FIXTURE_CHECK(crash, abort) {
    std::cout << "printed before abort\n";
    std::abort();
}

FIXTURE_CHECK(crash, null_write) {
    runner::print("printed before the fault\n");
    write_through_null();
}

// Recurses until the stack runs out: the fault hits the guard below the check's stack, and only
// a handler on an alternate signal stack can still report it.
__attribute__((noinline)) std::size_t recurse(std::size_t depth) {
    volatile char frame[4096];
    frame[0] = static_cast<char>(depth);
    if (depth == SIZE_MAX) {
        return 0;
    }
    return recurse(depth + 1) + static_cast<std::size_t>(frame[0]);
}

FIXTURE_CHECK(crash, stack_overflow) {
    runner::print("printed before the overflow\n");
    SARNIVELLE_ASSERT(recurse(0) != 1);
}

FIXTURE_CHECK(crash, terminate) {
    std::cerr << "printed before terminate\n";
    std::terminate();
}

} // namespace crash::tests

// ---- fail: ordinary failures, each with its own message ---------------------------------------

namespace fail::tests {

// Exact float equality is what this check is about.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wfloat-equal"
FIXTURE_CHECK(fail, assert_eq_floats) {
    const float height = 39.999996f;
    SARNIVELLE_ASSERT_EQ(height, 40.0f);
}
#pragma GCC diagnostic pop

FIXTURE_CHECK(fail, assert_with_message) {
    const float slope = 0.7853982f;
    SARNIVELLE_ASSERT(slope < 0.5f, "slope {} not below {} (limit {}, floor {})", slope, 0.5f,
                      1e20f, -0.0f);
}

FIXTURE_CHECK(fail, assert_without_message) {
    const int cells = 8;
    SARNIVELLE_ASSERT(cells == 9);
}

FIXTURE_CHECK(fail, panic_with_output) {
    std::cout << "some context first\n";
    runner::panic("the grid is wrong");
}

} // namespace fail::tests

// ---- hostile: bytes that every report form must carry safely -----------------------------------

namespace hostile::tests {

using namespace std::string_view_literals;

// Embedded NUL included: the literal keeps its full length.
constexpr std::string_view hostile_bytes =
    "colour \x1b[31mred\x1b[0m, bad utf-8 \xff\xfe, nul [\0], quotes \"'\", <tag> & ]]> end"sv;

FIXTURE_CHECK(hostile, fails_with_hostile_output) {
    runner::print(hostile_bytes);
    runner::print("\n");
    runner::panic(std::string("hostile message: ") + std::string(hostile_bytes));
}

FIXTURE_CHECK(hostile, passes_with_hostile_output) {
    runner::print(hostile_bytes);
    runner::print("\n");
}

} // namespace hostile::tests

// ---- ignore -------------------------------------------------------------------------------------

namespace ignore::tests {

using fixture::ignored;

FIXTURE_CHECK(ignore, plain, ignored()) {
    runner::panic("an ignored check never runs");
}

FIXTURE_CHECK(ignore, with_message, ignored("waits for the new terrain")) {
    runner::panic("an ignored check never runs");
}

} // namespace ignore::tests

// ---- order: two failures that complete in the reverse of their registry order -----------------

namespace order::tests {

FIXTURE_CHECK(order, a_fails_late) {
    fixture::sleep_ms(400);
    runner::print("a was here\n");
    runner::panic("a failed");
}

FIXTURE_CHECK(order, b_fails_early) {
    runner::print("b was here\n");
    runner::panic("b failed");
}

} // namespace order::tests

// ---- output: every way a check can print, shown by failing afterwards ---------------------------

namespace output::tests {

FIXTURE_CHECK(output, every_stream) {
    std::cout << "cout line\n";
    std::cerr << "cerr line\n";
    std::clog << "clog line\n";
    runner::print("print line\n");
    runner::eprint("eprint line\n");
    std::cout << "partial " << 42 << std::flush << " line" << std::endl;
    runner::panic("printed on every stream");
}

FIXTURE_CHECK(output, spawned_threads) {
    runner::JoinHandle first = runner::spawn([] { std::cout << "from the first thread\n"; });
    first.join();
    runner::JoinHandle second = runner::spawn([] {
        runner::eprint("from the second thread\n");
        // A thread started by a started thread still writes into the check's output.
        runner::JoinHandle inner = runner::spawn([] { std::cerr << "from the inner thread\n"; });
        inner.join();
    });
    second.join();
    runner::panic("threads have printed");
}

FIXTURE_CHECK(output, spawned_thread_fails) {
    runner::JoinHandle worker = runner::spawn([] { runner::panic("worker gave up"); });
    worker.join();
    runner::print("not reached\n");
}

FIXTURE_CHECK(output, spawned_thread_throws) {
    runner::JoinHandle worker = runner::spawn([] { throw 7; });
    worker.join();
    runner::print("not reached either\n");
}

} // namespace output::tests

// ---- panic: the expected-panic rules and payloads that are not text -----------------------------

namespace panic::tests {

using fixture::should_panic;

FIXTURE_CHECK(panic, expected_and_panics, should_panic()) {
    runner::panic("as planned");
}

FIXTURE_CHECK(panic, expected_but_returns, should_panic()) {
    runner::print("returned\n");
}

FIXTURE_CHECK(panic, non_text_payload) {
    runner::panic_any(42);
}

FIXTURE_CHECK(panic, substring_but_returns, should_panic("needle")) {}

FIXTURE_CHECK(panic, substring_found, should_panic("needle")) {
    runner::panic("a needle in the hay");
}

FIXTURE_CHECK(panic, substring_missing, should_panic("needle")) {
    runner::panic("only \"hay\" here");
}

FIXTURE_CHECK(panic, substring_non_text, should_panic("needle")) {
    runner::panic_any(7);
}

} // namespace panic::tests

// ---- pass ---------------------------------------------------------------------------------------

namespace pass::tests {

FIXTURE_CHECK(pass, first) {}

FIXTURE_CHECK(pass, second) {
    SARNIVELLE_ASSERT_EQ(1 + 1, 2);
}

FIXTURE_CHECK(pass, third) {
    const std::string_view word = "pass";
    SARNIVELLE_ASSERT(word.size() == 4, "{} has {} letters", word, word.size());
}

} // namespace pass::tests

// ---- slow: past the shortened deadline ---------------------------------------------------------

namespace slow::tests {

FIXTURE_CHECK(slow, fast_neighbour) {}

FIXTURE_CHECK(slow, overruns_deadline) {
    fixture::sleep_ms(1500);
}

} // namespace slow::tests

// ---- thread: what the runner gives a check's thread ---------------------------------------------

namespace thread::tests {

FIXTURE_CHECK(thread, reports_stack_size) {
    pthread_attr_t attributes;
    SARNIVELLE_ASSERT_EQ(pthread_getattr_np(pthread_self(), &attributes), 0);
    std::size_t size = 0;
    pthread_attr_getstacksize(&attributes, &size);
    pthread_attr_destroy(&attributes);
    runner::print(runner::format("stack size: {}\n", size));
    runner::panic("reported");
}

} // namespace thread::tests

// ---- timing: a check slow enough for tight time limits ------------------------------------------

namespace timing::tests {

FIXTURE_CHECK(timing, sleeps_briefly) {
    fixture::sleep_ms(120);
}

} // namespace timing::tests

// ---- The registry, in ascending byte order of names --------------------------------------------

namespace {

constexpr const runner::StaticTestDescAndFn* registry[] = {
    &bench::tests::sums_a_range_check,
    &crash::tests::abort_check,
    &crash::tests::null_write_check,
    &crash::tests::stack_overflow_check,
    &crash::tests::terminate_check,
    &fail::tests::assert_eq_floats_check,
    &fail::tests::assert_with_message_check,
    &fail::tests::assert_without_message_check,
    &fail::tests::panic_with_output_check,
    &hostile::tests::fails_with_hostile_output_check,
    &hostile::tests::passes_with_hostile_output_check,
    &ignore::tests::plain_check,
    &ignore::tests::with_message_check,
    &order::tests::a_fails_late_check,
    &order::tests::b_fails_early_check,
    &output::tests::every_stream_check,
    &output::tests::spawned_thread_fails_check,
    &output::tests::spawned_thread_throws_check,
    &output::tests::spawned_threads_check,
    &panic::tests::expected_and_panics_check,
    &panic::tests::expected_but_returns_check,
    &panic::tests::non_text_payload_check,
    &panic::tests::substring_but_returns_check,
    &panic::tests::substring_found_check,
    &panic::tests::substring_missing_check,
    &panic::tests::substring_non_text_check,
    &pass::tests::first_check,
    &pass::tests::second_check,
    &pass::tests::third_check,
    &slow::tests::fast_neighbour_check,
    &slow::tests::overruns_deadline_check,
    &thread::tests::reports_stack_size_check,
    &timing::tests::sleeps_briefly_check,
};

void fixture_entry() {
    // Short enough that a test can watch a check overrun it.
    runner::RunnerConfig config;
    config.check_deadline = std::chrono::seconds(1);
    runner::test_main_static(registry, config);
}

} // namespace

int main(int argc, char** argv) {
    return runner::lang_start(argc, argv, &fixture_entry);
}
