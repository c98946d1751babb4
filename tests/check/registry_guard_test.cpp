// The registry guards, the argument hand-over and automatic registration, end to end over the
// small programs of guard_program.cpp.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "child_process.hpp"

namespace {

const std::vector<std::string> programs = {GUARD_PROGRAMS};

// The line of `text` in guard_program.cpp, and the column where `name` starts on it.
struct Position {
    int line = 0;
    std::size_t column = 0;
};
Position find(const std::string& text, const std::string& name) {
    std::ifstream source(GUARD_SOURCE);
    std::string line;
    for (int number = 1; std::getline(source, line); ++number) {
        if (line.find(text) != std::string::npos) {
            return {number, line.find(name) + 1};
        }
    }
    ADD_FAILURE() << "no line holds " << text;
    return {};
}

std::string location(const std::string& text, const std::string& name) {
    const Position at = find(text, name);
    return "tests/check/guard_program.cpp:" + std::to_string(at.line) + ":" +
           std::to_string(at.column);
}

test_support::ChildResult run(int variant, std::vector<std::string> args) {
    return test_support::run_child(programs.at(static_cast<std::size_t>(variant - 1)),
                                   {.args = std::move(args), .env = {}});
}

TEST(RegistryGuard, EndsBeforeAnyCheckWithItsMessageAndStatus101) {
    const Position forgotten = find("SARNIVELLE_CHECK(guard, forgotten)", "forgotten");
    const std::string missing = "error: check guard::tests::forgotten (tests/check/" +
                                std::string("guard_program.cpp:") + std::to_string(forgotten.line) +
                                ") is defined but not in the registry\n";
    const std::string twice = "error: check guard::tests::forgotten is listed twice in the "
                              "registry\n";
    const std::string no_arguments =
        "error: runner::test_main_static was called without the process arguments: main must "
        "return runner::lang_start(argc, argv, entry), and the entry function call "
        "runner::test_main_static\n";
    struct Case {
        int variant;
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {1, {}, missing},
        {1, {"--list"}, missing},
        {1, {"--exact", "guard::tests::listed"}, missing},
        {2, {}, twice},
        {2, {"--list", "--format", "terse"}, twice},
        {3, {}, no_arguments},
        {3, {"--list"}, no_arguments},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("program " + std::to_string(c.variant) + ", " + std::to_string(c.args.size()) +
                     " arguments");
        const auto result = run(c.variant, c.args);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, c.err);
        EXPECT_TRUE(result.exited);
        EXPECT_EQ(result.exit_status, 101);
    }
}

TEST(RegistryGuard, HelpAndSoundRegistriesAreLeftAlone) {
    const auto help = run(1, {"--help"});
    EXPECT_EQ(help.exit_status, 0);
    EXPECT_NE(help.out.find("Usage:"), std::string::npos);

    const auto list = run(4, {"--list"});
    EXPECT_EQ(list.exit_status, 0);
    EXPECT_EQ(list.out, "guard::tests::forgotten: test\nguard::tests::listed: test\n\n"
                        "2 tests, 0 benchmarks\n");
    const auto ran = run(4, {"--test-threads", "1"});
    EXPECT_EQ(ran.exit_status, 101);
    EXPECT_NE(ran.out.find("test result: FAILED. 1 passed; 1 failed;"), std::string::npos);
}

TEST(AutomaticRegistration, ListsEveryLinkedCheckByName) {
    const auto list = run(5, {"--list"});
    EXPECT_EQ(list.exit_status, 0);
    EXPECT_EQ(list.err, "");
    EXPECT_EQ(list.out, "guard::tests::attr_expected_but_passes: test\n"
                        "guard::tests::attr_expected_failure: test\n"
                        "guard::tests::attr_expected_text: test\n"
                        "guard::tests::attr_ignored_plain: test\n"
                        "guard::tests::attr_ignored_reason: test\n"
                        "guard::tests::forgotten: test\n"
                        "guard::tests::listed: test\n"
                        "shared::tests::from_a_shared_library: test\n"
                        "\n8 tests, 0 benchmarks\n");
}

TEST(AutomaticRegistration, AttributesHoldAndKeepTheirPosition) {
    const auto result = run(5, {"--test-threads", "1", "attr_"});
    EXPECT_EQ(result.exit_status, 101);
    const std::string expected_lines[] = {
        "test guard::tests::attr_expected_but_passes - should panic ... FAILED\n",
        "test guard::tests::attr_expected_failure - should panic ... ok\n",
        "test guard::tests::attr_expected_text - should panic ... ok\n",
        "test guard::tests::attr_ignored_plain ... ignored\n",
        "test guard::tests::attr_ignored_reason ... ignored, needs a terminal\n",
        "note: test did not panic as expected at " +
            location("attr_expected_but_passes, expected_failure", "attr_expected_but_passes"),
        "test result: FAILED. 2 passed; 1 failed; 2 ignored; 0 measured; 3 filtered out;",
    };
    for (const std::string& line : expected_lines) {
        EXPECT_NE(result.out.find(line), std::string::npos) << line << "\nin\n" << result.out;
    }
}

} // namespace
