// The default report's texts and section layout, written to a string; and what reporting a
// check allocates.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "allocation_count.hpp"
#include "format/formatter.hpp"
#include "format/output_location.hpp"

namespace runner {
namespace {

using std::chrono::milliseconds;

TestDesc named(std::string_view name) {
    TestDesc desc;
    desc.name = name;
    return desc;
}

class PrettyReport : public ::testing::Test {
protected:
    // A fresh formatter over a fresh string; `terminal` makes the string act as a terminal.
    OutputFormatter& make(FormatterSettings with = {}, bool terminal = false) {
        out = std::make_unique<StringLocation>(terminal);
        formatter = make_pretty_formatter(*out, with);
        return *formatter;
    }
    const std::string& text() const { return out->text(); }

    void report(OutputFormatter& f, const TestDesc& desc, const TestResult& result,
                std::optional<TestExecTime> time = std::nullopt) {
        f.write_result(desc, result, time, "");
    }

    RunCounts state;
    std::unique_ptr<StringLocation> out;
    std::unique_ptr<OutputFormatter> formatter;
};

TEST_F(PrettyReport, run_start_line_names_the_whole_seed) {
    make().write_run_start(3, 18446744073709551615u);
    EXPECT_EQ(text(), "\nrunning 3 tests (shuffle seed: 18446744073709551615)\n");
}

// The run-loop tests show the should-panic label, ignore messages and time failures.
TEST_F(PrettyReport, mode_labels_the_fixture_cannot_show) {
    FormatterSettings settings;
    settings.is_multithreaded = true;
    OutputFormatter& f = make(settings);

    TestDesc compile_fail = named("a::compile_fail");
    compile_fail.compile_fail = true;
    TestDesc no_run = named("a::no_run");
    no_run.no_run = true;
    TestDesc ignored = named("a::ignored");
    ignored.ignore = true;
    ignored.should_panic = {ShouldPanicKind::Yes, {}}; // ignored checks carry no label

    report(f, compile_fail, TestResult::failed_with("m"));
    report(f, no_run, TestResult::passed());
    report(f, ignored, TestResult::ignored());
    EXPECT_EQ(text(), "test a::compile_fail - compile fail ... FAILED\n"
                      "test a::no_run - compile ... ok\n"
                      "test a::ignored ... ignored\n");
}

TEST_F(PrettyReport, failures_show_outputs_in_completion_order_and_names_sorted) {
    state.total = 3;
    state.passed = 1;
    state.failed = 2;
    state.filtered_out = 24;
    state.exec_time = TestSuiteExecTime{milliseconds(1234)};
    state.not_failures = {{named("c::passed"), "not shown without --show-output\n"}};
    state.failures = {{named("b::second"), "b output"},
                      {named("a::first"), "a \xff output\n"},
                      {named("a::silent"), ""}};
    state.failed = 3;
    EXPECT_FALSE(make().write_run_finish(state));
    EXPECT_EQ(text(), "\nfailures:\n"
                      "\n---- b::second stdout ----\nb output\n"
                      "---- a::first stdout ----\na \xEF\xBF\xBD output\n\n"
                      "\nfailures:\n"
                      "    a::first\n"
                      "    a::silent\n"
                      "    b::second\n"
                      "\ntest result: FAILED. 1 passed; 3 failed; 0 ignored; 0 measured; 24 "
                      "filtered out; finished in 1.23s\n\n");
}

TEST_F(PrettyReport, time_failures_have_their_own_section_after_the_failures) {
    state.failed = 2;
    state.exec_time = TestSuiteExecTime{milliseconds(10)};
    state.failures = {{named("a::failed"), ""}};
    state.time_failures = {{named("a::slow"), ""}};
    EXPECT_FALSE(make().write_run_finish(state));
    EXPECT_EQ(text(), "\nfailures:\n\nfailures:\n    a::failed\n"
                      "\nfailures (time limit exceeded):\n\nfailures (time limit exceeded):\n"
                      "    a::slow\n"
                      "\ntest result: FAILED. 0 passed; 2 failed; 0 ignored; 0 measured; 0 "
                      "filtered out; finished in 0.01s\n\n");
}

TEST_F(PrettyReport, show_output_lists_successes_even_when_none_printed) {
    FormatterSettings settings;
    settings.show_output = true;
    state.passed = 2;
    state.exec_time = TestSuiteExecTime{milliseconds(0)};
    state.not_failures = {{named("b::quiet"), ""}, {named("a::quiet"), ""}};
    EXPECT_TRUE(make(settings).write_run_finish(state));
    EXPECT_EQ(text(), "\nsuccesses:\n\nsuccesses:\n    a::quiet\n    b::quiet\n"
                      "\ntest result: ok. 2 passed; 0 failed; 0 ignored; 0 measured; 0 filtered "
                      "out; finished in 0.00s\n\n");

    state.not_failures.clear();
    state.passed = 0;
    EXPECT_TRUE(make(settings).write_run_finish(state));
    EXPECT_TRUE(text().starts_with("\nsuccesses:\n\nsuccesses:\n\ntest result: ok. 0 passed"))
        << text();
}

TEST_F(PrettyReport, a_single_ignored_check_repeats_its_message_after_the_summary) {
    TestDesc only = named("a::later");
    only.ignore = true;
    only.ignore_message = "needs terrain";
    state.total = 1;
    state.ignored = 1;
    state.filtered_out = 26;
    state.ignores = {only};
    state.exec_time = TestSuiteExecTime{milliseconds(0)};
    EXPECT_TRUE(make().write_run_finish(state));
    EXPECT_EQ(text(), "\ntest result: ok. 0 passed; 0 failed; 1 ignored; 0 measured; 26 filtered "
                      "out; finished in 0.00s\n\n"
                      "test: a::later, ignore_message: needs terrain\n\n");

    // Without a message, or among other checks, nothing follows the summary.
    only.ignore_message.reset();
    state.ignores = {only};
    make().write_run_finish(state);
    EXPECT_TRUE(text().ends_with("finished in 0.00s\n\n")) << text();
}

TEST_F(PrettyReport, colours_only_on_a_terminal_and_only_when_wanted) {
    FormatterSettings settings;
    settings.is_multithreaded = true;
    settings.use_color = true;
    settings.time_options = TestTimeOptions{}; // unit checks: warn 50 ms, critical 100 ms

    OutputFormatter& f = make(settings, true);
    report(f, named("a::ok"), TestResult::passed(), TestExecTime{milliseconds(1)});
    report(f, named("a::warn"), TestResult::passed(), TestExecTime{milliseconds(50)});
    report(f, named("a::late"), TestResult::failed(), TestExecTime{milliseconds(100)});
    report(f, named("a::skip"), TestResult::ignored());
    report(f, named("a::bench"), TestResult::measured({1234.4, 5.0}));
    EXPECT_EQ(text(), "test a::ok ... \x1b[32mok\x1b[0m <0.001s>\n"
                      "test a::warn ... \x1b[32mok\x1b[0m <\x1b[33m0.050s\x1b[0m>\n"
                      "test a::late ... \x1b[31mFAILED\x1b[0m <\x1b[31m0.100s\x1b[0m>\n"
                      "test a::skip ... \x1b[33mignored\x1b[0m\n"
                      "test a::bench ... \x1b[36mbench\x1b[0m: 1,234 ns/iter (+/- 5)\n");

    state.failed = 1;
    state.exec_time = TestSuiteExecTime{milliseconds(0)};
    make(settings, true).write_run_finish(state);
    EXPECT_TRUE(text().starts_with("\ntest result: \x1b[31mFAILED\x1b[0m. 0 passed")) << text();

    // Not a terminal, or colour not wanted: plain text.
    report(make(settings, false), named("a::ok"), TestResult::passed(),
           TestExecTime{milliseconds(100)});
    EXPECT_EQ(text(), "test a::ok ... ok <0.100s>\n");
    settings.use_color = false;
    report(make(settings, true), named("a::ok"), TestResult::passed(),
           TestExecTime{milliseconds(100)});
    EXPECT_EQ(text(), "test a::ok ... ok <0.100s>\n");
}

} // namespace
} // namespace runner

namespace runner {
namespace {

// A report into a fixed buffer, which allocates nothing of its own.
class FixedLocation : public OutputLocation {
public:
    void write(std::string_view bytes) override {
        const std::size_t n = std::min(bytes.size(), sizeof buffer_ - used_);
        std::memcpy(buffer_ + used_, bytes.data(), n);
        used_ += n;
    }
    void flush() override {}
    std::string_view text() const { return {buffer_, used_}; }

private:
    char buffer_[1024] = {};
    std::size_t used_ = 0;
};

// Once the report has started, a passing check is reported without allocating: when the checks
// have taken all the memory there is, their results still get out.
TEST(PrettyReportMemory, a_passing_check_is_reported_without_allocating) {
    const std::string name(200, 'n');
    FixedLocation out;
    FormatterSettings settings;
    settings.is_multithreaded = true;
    settings.max_name_len = name.size();
    const std::unique_ptr<OutputFormatter> formatter = make_pretty_formatter(out, settings);
    formatter->write_run_start(1, std::nullopt);
    const std::size_t before = test_support::allocations_of_this_thread();
    formatter->write_result(named(name), TestResult::passed(), std::nullopt, "");
    EXPECT_EQ(test_support::allocations_of_this_thread(), before);
    EXPECT_EQ(out.text(), "\nrunning 1 test\ntest " + name + " ... ok\n");
}

} // namespace
} // namespace runner
