// The terse, JSON and JUnit forms, driven through the events of a run the way the run loop
// sends them, written to a string-backed location.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "format/formatter.hpp"
#include "outcome/run_counts.hpp"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using runner::FormatterSettings;
using runner::OutputFormat;
using runner::OutputFormatter;
using runner::StringLocation;
using runner::TestDesc;
using runner::TestResult;

// ---- Golden files -----------------------------------------------------------------------------

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Compares `actual` with golden/NAME; SARNIVELLE_UPDATE_GOLDEN=1 rewrites the file instead.
void expect_golden(const std::string& name, const std::string& actual) {
    const std::string path = std::string(GOLDEN_DIR) + "/" + name;
    const char* update = std::getenv("SARNIVELLE_UPDATE_GOLDEN");
    if (update != nullptr && std::string(update) == "1") {
        std::ofstream(path, std::ios::binary) << actual;
        return;
    }
    const std::string expected = read_file(path);
    ASSERT_FALSE(expected.empty()) << "missing golden file " << path;
    EXPECT_EQ(actual, expected) << "differs from " << path;
}

// Replaces the value of the first `attribute="..."` in `xml`.
std::string with_attribute(std::string xml, const std::string& attribute,
                           const std::string& value) {
    const std::string head = attribute + "=\"";
    const std::size_t start = xml.find(head);
    if (start != std::string::npos) {
        const std::size_t from = start + head.size();
        xml.replace(from, xml.find('"', from) - from, value);
    }
    return xml;
}

// The JUnit values that depend on the machine and the moment.
std::string mask_junit(const std::string& xml) {
    std::string out = with_attribute(xml, "timestamp", "2026-01-05T10:20:30");
    return with_attribute(out, "hostname", "buildhost");
}

// ---- A scripted run ---------------------------------------------------------------------------

TestDesc desc(std::string_view name, std::uint32_t line) {
    TestDesc d;
    d.name = name;
    d.source_file = "components/sarnivelle-scenery-bake/src/module.cpp";
    d.start_line = line;
    d.start_col = 15;
    return d;
}

struct Outcome {
    TestDesc desc;
    TestResult result;
    std::string output;
    std::optional<runner::TestExecTime> time;
};

runner::TestExecTime ms(long long milliseconds) {
    return runner::TestExecTime{std::chrono::milliseconds(milliseconds)};
}

// Output a check may well print: colour codes, markup, quotes, NUL, invalid UTF-8, a CDATA end,
// a carriage return; then the runtime's panic report.
const std::string hostile_output =
    "sampling \x1b[31mred\x1b[0m <grid> & \"quotes\" 'single' ]]> nul:\0:end\n"s +
    "bad bytes: \xff\xfe cut: \xe2\x82 done\r\n" +
    "\nthread 'height::tests::prints_hostile_output' (7) panicked at "
    "components/sarnivelle-scenery-bake/src/module.cpp:120:9:\n"
    "expected <40> & got \"39.999996\"\x1b[0m\n"
    "note: run with `SARNIVELLE_BACKTRACE=1` environment variable to display a backtrace\n";

struct ScriptedRun {
    runner::RunCounts state;
    std::vector<Outcome> outcomes;
    std::vector<std::size_t> overdue; // indexes of outcomes that get an overdue notice

    // Every check starts, the overdue notices follow, then the results in list order.
    bool drive(OutputFormatter& form, std::optional<std::uint64_t> seed = std::nullopt) {
        state.total = outcomes.size();
        form.write_run_start(outcomes.size(), seed);
        for (const auto& o : outcomes) {
            form.write_test_start(o.desc);
        }
        for (const std::size_t i : overdue) {
            form.write_timeout(outcomes[i].desc);
        }
        for (std::size_t i = 0; i < outcomes.size(); ++i) {
            const Outcome& o = outcomes[i];
            form.write_result(o.desc, o.result, o.time, o.output);
            runner::CompletedTest completed{runner::TestId{i}, o.desc, o.result, o.time, o.output};
            state.count(completed);
        }
        state.exec_time = runner::TestSuiteExecTime{1234567890ns};
        return form.write_run_finish(state);
    }
};

// Passes, a failure with hostile output, an ignored check with a message, a time-limit
// failure, a check that did not panic as expected, and a pass that printed; one overdue.
ScriptedRun hostile_run() {
    ScriptedRun run;
    TestDesc ignored = desc("noise::tests::waits_for_data", 30);
    ignored.ignore = true;
    ignored.ignore_message = "needs the <real> \"region\" & data";
    TestDesc should_panic = desc("height::tests::should_have_failed", 88);
    should_panic.should_panic.kind = runner::ShouldPanicKind::Yes;
    run.outcomes = {
        {desc("aabb::tests::passes_quietly", 40), TestResult::passed(), "", ms(1)},
        {desc("height::tests::prints_hostile_output", 118),
         TestResult::failed("expected <40> & got \"39.999996\"\x1b[0m"), hostile_output, ms(12)},
        {ignored, TestResult::ignored(), "", std::nullopt},
        {desc("noise::tests::prints_and_passes", 52), TestResult::passed(), "seed 7\n", ms(3)},
        {should_panic,
         TestResult::failed_with("test did not panic as expected at "
                                 "components/sarnivelle-scenery-bake/src/module.cpp:88:15"),
         "", ms(2)},
        {desc("height::tests::slow_sampling", 140), TestResult::time_limit_exceeded(),
         "sampling 4096 points\n", ms(150)},
    };
    run.overdue = {5};
    run.state.filtered_out = 21;
    return run;
}

FormatterSettings settings(bool color = false) {
    FormatterSettings s;
    s.suite_name = "sarnivelle-scenery-bake";
    s.use_color = color;
    s.is_multithreaded = true;
    s.time_options = runner::TestTimeOptions{};
    s.check_deadline = 60s;
    return s;
}

std::string run_form(OutputFormat format, ScriptedRun&& run, bool* success = nullptr,
                     const FormatterSettings& s = settings()) {
    StringLocation out;
    auto form = runner::make_formatter(format, out, s);
    const bool ok = run.drive(*form);
    if (success != nullptr) {
        *success = ok;
    }
    return out.text();
}

ScriptedRun passing_run(std::size_t count) {
    ScriptedRun run;
    for (std::size_t i = 0; i < count; ++i) {
        run.outcomes.push_back({desc("aabb::tests::passes", 10), TestResult::passed(), "", ms(0)});
    }
    return run;
}

// ---- Every form ---------------------------------------------------------------------------

TEST(ReportForms, HostileRunMatchesGoldenFiles) {
    expect_golden("hostile.terse.txt", run_form(OutputFormat::Terse, hostile_run()));
    expect_golden("hostile.jsonl", run_form(OutputFormat::Json, hostile_run()));
    expect_golden("hostile.junit.xml", mask_junit(run_form(OutputFormat::Junit, hostile_run())));
}

TEST(ReportForms, SuccessFlagSaysWhetherAnyCheckFailed) {
    for (const auto format : {OutputFormat::Terse, OutputFormat::Json, OutputFormat::Junit}) {
        bool success = true;
        run_form(format, hostile_run(), &success);
        EXPECT_FALSE(success);
        run_form(format, passing_run(3), &success);
        EXPECT_TRUE(success);
    }
}

TEST(ReportForms, MachineFormsNeverColourEvenOnATerminal) {
    for (const auto format : {OutputFormat::Json, OutputFormat::Junit}) {
        StringLocation terminal(true);
        ScriptedRun run = hostile_run();
        auto form = runner::make_formatter(format, terminal, settings(true));
        run.drive(*form);
        EXPECT_EQ(terminal.text().find('\x1b'), std::string::npos);
        EXPECT_EQ(terminal.text().find('\0'), std::string::npos);
    }
}

// ---- Terse --------------------------------------------------------------------------------

TEST(Terse, BreaksTheProgressLineEvery88ResultsWithoutAnEmptyLine) {
    const std::string line = std::string(88, '.') + "\n";
    for (const auto& [count, progress] :
         {std::pair{std::size_t{88}, line},
          std::pair{std::size_t{200}, line + line + std::string(24, '.') + "\n"}}) {
        const std::string expected =
            "\nrunning " + std::to_string(count) + " tests\n" + progress + "\ntest result: ok. ";
        EXPECT_EQ(run_form(OutputFormat::Terse, passing_run(count)).substr(0, expected.size()),
                  expected);
    }
}

TEST(Terse, OverdueNoticeStandsOnItsOwnLine) {
    ScriptedRun run = passing_run(3);
    StringLocation out;
    auto form = runner::make_terse_formatter(out, settings());
    form->write_run_start(3, std::nullopt);
    form->write_result(run.outcomes[0].desc, TestResult::passed(), std::nullopt, "");
    form->write_result(run.outcomes[1].desc, TestResult::ignored(), std::nullopt, "");
    form->write_timeout(desc("height::tests::slow", 1));
    form->write_result(run.outcomes[2].desc, TestResult::failed(), std::nullopt, "");
    EXPECT_EQ(out.text(), "\nrunning 3 tests\n.i\n"
                          "test height::tests::slow has been running for over 60 seconds\nF");
}

TEST(Terse, ColoursEachMarkOnATerminal) {
    ScriptedRun run = passing_run(1);
    StringLocation terminal(true);
    auto form = runner::make_terse_formatter(terminal, settings(true));
    form->write_result(run.outcomes[0].desc, TestResult::passed(), std::nullopt, "");
    form->write_result(run.outcomes[0].desc, TestResult::failed(), std::nullopt, "");
    form->write_result(run.outcomes[0].desc, TestResult::ignored(), std::nullopt, "");
    EXPECT_EQ(terminal.text(), "\x1b[32m.\x1b[0m\x1b[31mF\x1b[0m\x1b[33mi\x1b[0m");

    StringLocation plain(false);
    auto uncoloured = runner::make_terse_formatter(plain, settings(true));
    uncoloured->write_result(run.outcomes[0].desc, TestResult::passed(), std::nullopt, "");
    EXPECT_EQ(plain.text(), ".");
}

// ---- JSON ---------------------------------------------------------------------------------

TEST(Json, ListModeWritesOneEventPerCheck) {
    StringLocation out;
    auto form = runner::make_json_formatter(out, settings());
    TestDesc ignored = desc("noise::tests::waits", 30);
    ignored.ignore = true;
    form->write_discovery_start();
    form->write_test_discovered(desc("aabb::tests::a", 12), false);
    form->write_test_discovered(ignored, false);
    form->write_test_discovered(desc("noise::tests::bench_noise", 44), true);
    form->write_discovery_finish(runner::DiscoveryState{2, 1});
    expect_golden("list.jsonl", out.text());
}

TEST(Json, ShuffleSeedIsAStringSoNo64BitValueIsRounded) {
    StringLocation out;
    auto form = runner::make_json_formatter(out, settings());
    form->write_run_start(2, 18446744073709551615ull);
    EXPECT_EQ(
        out.text(),
        "{\"event\":\"run_started\",\"test_count\":2,\"shuffle_seed\":\"18446744073709551615\"}\n");
}

// The hostile run's golden files show that without the option a pass's output is left out.
TEST(Json, OutputOfPassesWithShowOutput) {
    ScriptedRun run = passing_run(1);
    run.outcomes[0].output = "printed\n";
    FormatterSettings s = settings();
    s.show_output = true;
    EXPECT_NE(
        run_form(OutputFormat::Json, std::move(run), nullptr, s).find("\"output\":\"printed\\n\""),
        std::string::npos);
}

TEST(Json, EmptyRunIsStillBracketed) {
    ScriptedRun run;
    run.state.filtered_out = 27;
    expect_golden("empty.jsonl", run_form(OutputFormat::Json, std::move(run)));
}

// ---- JUnit ----------------------------------------------------------------------------------

TEST(Junit, EmptyRunIsAValidDocumentWithZeroTests) {
    ScriptedRun run;
    run.state.filtered_out = 27;
    expect_golden("empty.junit.xml", mask_junit(run_form(OutputFormat::Junit, std::move(run))));
}

TEST(Junit, TotalsCountOnlyReportedChecksWhenARunStopsEarly) {
    // A fail-fast run: three selected, one reported.
    ScriptedRun run = passing_run(3);
    StringLocation out;
    auto form = runner::make_junit_formatter(out, settings(false));
    form->write_run_start(3, std::nullopt);
    for (const auto& o : run.outcomes) {
        form->write_test_start(o.desc);
    }
    form->write_result(run.outcomes[0].desc, TestResult::failed(), std::nullopt, "");
    run.state.failed = 1;
    form->write_run_finish(run.state);
    EXPECT_NE(out.text().find("tests=\"1\" failures=\"1\" errors=\"0\" skipped=\"0\""),
              std::string::npos);
}

TEST(Junit, CasesFollowTheStartOrderNotTheCompletionOrder) {
    ScriptedRun run;
    run.outcomes = {{desc("m::tests::b_second", 2), TestResult::passed(), "", ms(1)},
                    {desc("m::tests::a_first", 1), TestResult::passed(), "", ms(1)}};
    StringLocation out;
    auto form = runner::make_junit_formatter(out, settings(false));
    form->write_run_start(2, std::nullopt);
    form->write_test_start(run.outcomes[1].desc);
    form->write_test_start(run.outcomes[0].desc);
    for (const auto& o : run.outcomes) {
        form->write_result(o.desc, o.result, o.time, o.output);
    }
    form->write_run_finish(run.state);
    EXPECT_LT(out.text().find("a_first"), out.text().find("b_second"));
}

TEST(Junit, HugeOutputKeepsItsHeadAndTheFinalPanicReport) {
    ScriptedRun run = passing_run(1);
    run.outcomes[0].result = TestResult::failed("the real reason");
    run.outcomes[0].output = "first line\n" + std::string(8 * 1024 * 1024, '&') +
                             "\nthread 'x' (2) panicked at a.cpp:1:1:\nthe real reason\n";
    const std::string xml = run_form(OutputFormat::Junit, std::move(run));
    EXPECT_LT(xml.size(), 6u * 1024 * 1024);
    EXPECT_NE(xml.find("first line"), std::string::npos);
    EXPECT_NE(xml.find("bytes of output left out"), std::string::npos);
    EXPECT_NE(xml.find("message=\"the real reason\""), std::string::npos);
    EXPECT_NE(xml.find("the real reason\n</failure>"), std::string::npos);
}

} // namespace
