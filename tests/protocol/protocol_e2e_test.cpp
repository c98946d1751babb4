// The test-only registry run as a build system runs a test: through environment variables
// that shard the run, name the JUnit file, mark a crash and ask for the run's timeline.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "child_process.hpp"

namespace protocol_tests {
namespace {

using test_support::ChildResult;
using test_support::ChildSpec;
using Env = std::vector<std::pair<std::string, std::string>>;
using Names = std::set<std::string>;

// Checks and benchmarks of the test-only registry, and how many of them crash the process.
constexpr std::size_t fixture_registry_size = 33;
constexpr std::size_t fixture_crashing = 4;

// A fresh directory for the files of one test, removed with everything in it.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/sarnivelle-protocol-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        path_ = made != nullptr ? made : "";
    }
    ~TempDir() {
        const std::string command = "rm -rf '" + path_ + "'";
        [[maybe_unused]] const int status = std::system(command.c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

private:
    std::string path_;
};

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

ChildResult run_fixture(std::vector<std::string> args, const Env& env) {
    ChildSpec child;
    child.args = std::move(args);
    child.env = env;
    ChildResult result = test_support::run_child(FIXTURE_BINARY, child);
    EXPECT_FALSE(result.timed_out) << result.out << result.err;
    return result;
}

// The names of the "test NAME ... WORD" lines of a pretty report, with their result word.
std::map<std::string, std::string> reported(const std::string& report) {
    std::map<std::string, std::string> results;
    std::istringstream lines(report);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t dots = line.find(" ... ");
        if (line.starts_with("test ") && dots != std::string::npos) {
            const std::string word = line.substr(dots + 5);
            // A mode label (" - should panic") follows the name.
            const std::string head = line.substr(5, dots - 5);
            results[head.substr(0, head.find(" - "))] = word.substr(0, word.find_first_of(" ,"));
        }
    }
    return results;
}

Names names_of(const std::map<std::string, std::string>& results) {
    Names names;
    for (const auto& [name, word] : results) {
        names.insert(name);
    }
    return names;
}

TEST(Protocol, invalid_values_stop_before_any_check_runs) {
    const TempDir dir;
    const std::string missing = dir.file("missing/file");
    const std::string marker = dir.file("premature");
    // A dangling link to the file a trace would be written to.
    const std::string linked = dir.file("linked");
    ASSERT_EQ(::symlink("linked", dir.file("link").c_str()), 0);
    const struct {
        Env env;
        std::string error;
    } cases[] = {
        {{{"TEST_TOTAL_SHARDS", "0"}, {"TEST_SHARD_INDEX", "0"}},
         "TEST_TOTAL_SHARDS is `0`, should be a positive integer"},
        {{{"TEST_TOTAL_SHARDS", "four"}, {"TEST_SHARD_INDEX", "0"}},
         "TEST_TOTAL_SHARDS is `four`, should be a positive integer"},
        {{{"TEST_TOTAL_SHARDS", "-1"}, {"TEST_SHARD_INDEX", "0"}},
         "TEST_TOTAL_SHARDS is `-1`, should be a positive integer"},
        {{{"TEST_TOTAL_SHARDS", "4"}, {"TEST_SHARD_INDEX", "4"}},
         "TEST_SHARD_INDEX is `4`, should be a number below TEST_TOTAL_SHARDS (4)"},
        {{{"TEST_TOTAL_SHARDS", "4"}, {"TEST_SHARD_INDEX", "1 "}},
         "TEST_SHARD_INDEX is `1 `, should be a number below TEST_TOTAL_SHARDS (4)"},
        {{{"TEST_TOTAL_SHARDS", "+"}, {"TEST_SHARD_INDEX", "0"}},
         "TEST_TOTAL_SHARDS is `+`, should be a positive integer"},
        {{{"TEST_TOTAL_SHARDS", "++4"}, {"TEST_SHARD_INDEX", "0"}},
         "TEST_TOTAL_SHARDS is `++4`, should be a positive integer"},
        {{{"TEST_TOTAL_SHARDS", "18446744073709551616"}, {"TEST_SHARD_INDEX", "0"}},
         "TEST_TOTAL_SHARDS is `18446744073709551616`, should be a positive integer"},
        {{{"TEST_TOTAL_SHARDS", "+4"}, {"TEST_SHARD_INDEX", "+4"}},
         "TEST_SHARD_INDEX is `+4`, should be a number below TEST_TOTAL_SHARDS (4)"},
        {{{"TEST_TOTAL_SHARDS", "4"}}, "TEST_TOTAL_SHARDS is set but TEST_SHARD_INDEX is not"},
        {{{"TEST_SHARD_INDEX", "1"}}, "TEST_SHARD_INDEX is set but TEST_TOTAL_SHARDS is not"},
        {{{"TEST_SHARD_STATUS_FILE", missing}},
         "cannot write TEST_SHARD_STATUS_FILE `" + missing + "`: No such file or directory"},
        {{{"XML_OUTPUT_FILE", missing}},
         "cannot write XML_OUTPUT_FILE `" + missing + "`: No such file or directory"},
        {{{"TEST_PREMATURE_EXIT_FILE", missing}},
         "cannot write TEST_PREMATURE_EXIT_FILE `" + missing + "`: No such file or directory"},
        // Two outputs at one path, however it is spelled; checked before any file is made.
        {{{"XML_OUTPUT_FILE", marker}},
         "XML_OUTPUT_FILE and TEST_PREMATURE_EXIT_FILE name the same file `" + marker + "`"},
        {{{"TEST_SHARD_STATUS_FILE", dir.file("link")}, {"SARNIVELLE_TEST_TRACE", linked}},
         "TEST_SHARD_STATUS_FILE and SARNIVELLE_TEST_TRACE name the same file `" + linked + "`"},
        {{{"XML_OUTPUT_FILE", dir.file("./trace.json")},
          {"TEST_UNDECLARED_OUTPUTS_DIR", dir.file("")}},
         "XML_OUTPUT_FILE and TEST_UNDECLARED_OUTPUTS_DIR name the same file `" +
             dir.file("/trace.json") + "`"},
        {{{"SARNIVELLE_TEST_TRACE", dir.file("trace")}, {"XML_OUTPUT_FILE", dir.file("trace")}},
         "XML_OUTPUT_FILE and SARNIVELLE_TEST_TRACE name the same file `" + dir.file("trace") +
             "`"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        Env env = c.env;
        if (c.env.front().first != "TEST_PREMATURE_EXIT_FILE") {
            env.emplace_back("TEST_PREMATURE_EXIT_FILE", marker);
        }
        const ChildResult result = run_fixture({"pass::"}, env);
        EXPECT_TRUE(result.exited);
        EXPECT_EQ(result.exit_status, 101);
        EXPECT_EQ(result.err, "error: " + c.error + "\n");
        EXPECT_EQ(result.out, "");
        EXPECT_FALSE(exists(marker)) << "a run that ended on an error is not a crash";
        EXPECT_FALSE(exists(linked));
        EXPECT_FALSE(exists(dir.file("trace.json")));
    }
}

TEST(Protocol, junit_file_and_crash_marker_on_passing_failing_and_crashing_runs) {
    const struct {
        std::vector<std::string> args;
        bool crashes;
        int status;
        std::string counts; // of the JUnit document
    } cases[] = {
        {{"pass::"}, false, 0, "tests=\"3\" failures=\"0\""},
        {{"fail::", "ignore::"},
         false,
         101,
         "tests=\"6\" failures=\"4\" errors=\"0\" skipped=\"2\""},
        {{"--exact", "crash::tests::abort"}, true, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        const TempDir dir;
        const std::string xml = dir.file("test.xml");
        const std::string marker = dir.file("premature");
        // An earlier run's report must not survive a crash.
        std::ofstream(xml) << "stale";
        const ChildResult result =
            run_fixture(c.args, {{"XML_OUTPUT_FILE", xml}, {"TEST_PREMATURE_EXIT_FILE", marker}});
        EXPECT_EQ(exists(marker), c.crashes);
        if (c.crashes) {
            EXPECT_FALSE(result.exited);
            EXPECT_FALSE(exists(xml));
            continue;
        }
        EXPECT_TRUE(result.exited);
        EXPECT_EQ(result.exit_status, c.status);
        // Standard output keeps its own form.
        EXPECT_NE(result.out.find("\ntest result: "), std::string::npos) << result.out;
        const std::string document = read_file(xml);
        EXPECT_TRUE(document.starts_with("<?xml ")) << document;
        EXPECT_NE(document.find(c.counts), std::string::npos) << document;
        EXPECT_TRUE(document.ends_with("</testsuite>\n")) << document;
    }
}

TEST(Protocol, shards_split_the_selection_before_it_is_shuffled) {
    // The selection in registry order is hostile..passes, pass::first, second, third,
    // slow::fast_neighbour: shard 0 of 2 holds the 1st, 3rd and 5th.
    const std::vector<std::string> filters = {"hostile::tests::passes",
                                              "pass::", "slow::tests::fast"};
    const Names shares[] = {{"hostile::tests::passes_with_hostile_output", "pass::tests::second",
                             "slow::tests::fast_neighbour"},
                            {"pass::tests::first", "pass::tests::third"}};
    const TempDir dir;
    for (std::size_t index = 0; index < 2; ++index) {
        SCOPED_TRACE(index);
        const std::string status_file = dir.file("status" + std::to_string(index));
        const Env env = {{"SARNIVELLE_ALLOW_UNSTABLE", "1"},
                         // One leading "+", as in every number the runner reads.
                         {"TEST_TOTAL_SHARDS", "+2"},
                         {"TEST_SHARD_INDEX", std::to_string(index)},
                         {"TEST_SHARD_STATUS_FILE", status_file}};
        std::vector<std::string> args = {"-Z", "unstable-options", "--shuffle-seed", "5"};
        args.insert(args.end(), filters.begin(), filters.end());
        const ChildResult run = run_fixture(args, env);
        EXPECT_EQ(run.exit_status, 0) << run.out << run.err;
        EXPECT_EQ(names_of(reported(run.out)), shares[index]);
        EXPECT_NE(run.out.find("(shuffle seed: 5)"), std::string::npos) << run.out;
        // Checks of the other shard count as filtered out.
        EXPECT_NE(run.out.find("; " + std::to_string(fixture_registry_size - shares[index].size()) +
                               " filtered out;"),
                  std::string::npos)
            << run.out;
        EXPECT_TRUE(exists(status_file));

        // The list under sharding is the shard's share.
        std::vector<std::string> list_args = {"--list"};
        list_args.insert(list_args.end(), filters.begin(), filters.end());
        const ChildResult list = run_fixture(list_args, env);
        Names listed;
        std::istringstream lines(list.out);
        for (std::string line; std::getline(lines, line);) {
            if (line.ends_with(": test")) {
                listed.insert(line.substr(0, line.size() - 6));
            }
        }
        EXPECT_EQ(listed, shares[index]);
    }
}

// One event of a trace file, read from its line.
struct TraceEvent {
    std::string phase, name, category, outcome;
    int lane = -1;
    long long start = 0, duration = 0; // nanoseconds
};

// "12.345" microseconds as whole nanoseconds, so that sums are exact.
long long nanoseconds(const std::string& micros) {
    const std::size_t dot = micros.find('.');
    EXPECT_EQ(micros.size() - dot, 4u) << micros;
    return std::stoll(micros.substr(0, dot)) * 1000 + std::stoll(micros.substr(dot + 1));
}

std::string field(const std::string& line, std::string_view key) {
    const std::string marker = "\"" + std::string(key) + "\":";
    const std::size_t at = line.find(marker);
    if (at == std::string::npos) {
        return {};
    }
    std::size_t begin = at + marker.size();
    if (line[begin] == '"') {
        ++begin;
        return line.substr(begin, line.find('"', begin) - begin);
    }
    return line.substr(begin, line.find_first_of(",}", begin) - begin);
}

std::vector<TraceEvent> read_trace(const std::string& text) {
    std::vector<TraceEvent> events;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("{\"ph\":")) {
            continue;
        }
        TraceEvent event{field(line, "ph"), field(line, "name"), field(line, "cat"),
                         field(line, "outcome")};
        event.lane = std::stoi(field(line, "tid"));
        if (event.phase != "M") {
            event.start = nanoseconds(field(line, "ts"));
            event.duration = event.phase == "X" ? nanoseconds(field(line, "dur")) : 0;
        }
        events.push_back(event);
    }
    return events;
}

TEST(Protocol, trace_of_a_failing_run_has_one_event_per_executed_check_on_lanes) {
    const TempDir dir;
    // Three slots for checks that pass, fail, are ignored and overrun the one-second deadline.
    const ChildResult result = run_fixture({"--skip", "crash", "--test-threads", "3"},
                                           {{"TEST_UNDECLARED_OUTPUTS_DIR", dir.file("")}});
    ASSERT_EQ(result.exit_status, 101) << result.err;
    const std::string text = read_file(dir.file("trace.json"));
    ASSERT_TRUE(text.starts_with("{\"displayTimeUnit\":\"ms\",\"traceEvents\":[\n")) << text;
    ASSERT_TRUE(text.ends_with("]}\n")) << text;
    const std::vector<TraceEvent> events = read_trace(text);

    const auto run = std::find_if(events.begin(), events.end(),
                                  [](const TraceEvent& e) { return e.category == "run"; });
    ASSERT_NE(run, events.end());
    const std::map<std::string, std::string> report = reported(result.out);
    const std::map<std::string, std::string> outcome_of_word = {
        {"ok", "passed"}, {"FAILED", "failed"}, {"ignored", "ignored"}};

    std::map<std::string, int> check_events;
    std::map<int, std::vector<std::pair<long long, long long>>> lanes;
    std::map<int, std::string> lane_names;
    std::size_t overdue = 0;
    for (const TraceEvent& e : events) {
        if (e.phase == "M") {
            if (e.name == "thread_name") {
                lane_names[e.lane] = "named";
            }
            continue;
        }
        EXPECT_GE(e.start, run->start) << e.name;
        EXPECT_LE(e.start + e.duration, run->start + run->duration) << e.name;
        if (e.category == "overdue") {
            ++overdue;
            EXPECT_NE(e.lane, 0);
        } else if (e.category == "check") {
            ++check_events[e.name];
            ASSERT_TRUE(report.contains(e.name)) << e.name;
            EXPECT_EQ(e.outcome, outcome_of_word.at(report.at(e.name))) << e.name;
            // Executed checks run on a worker lane; ignored ones are moments on the runner's.
            EXPECT_EQ(e.phase, e.outcome == "ignored" ? "i" : "X") << e.name;
            EXPECT_EQ(e.lane == 0, e.outcome == "ignored") << e.name;
            if (e.phase == "X") {
                lanes[e.lane].emplace_back(e.start, e.start + e.duration);
            }
        }
    }
    EXPECT_EQ(overdue, 1u);
    EXPECT_EQ(report.size(), fixture_registry_size - fixture_crashing);
    for (const auto& [name, word] : report) {
        EXPECT_EQ(check_events[name], 1) << name;
    }
    EXPECT_LE(lanes.size(), 3u);
    for (auto& [lane, spans] : lanes) {
        EXPECT_TRUE(lane_names.contains(lane)) << lane;
        std::sort(spans.begin(), spans.end());
        for (std::size_t i = 1; i < spans.size(); ++i) {
            EXPECT_LE(spans[i - 1].second, spans[i].first) << "lane " << lane;
        }
    }
}

TEST(Protocol, an_unwritable_trace_fails_the_run_after_the_report_and_loses_nothing) {
    const TempDir dir;
    const ChildResult result = run_fixture({"pass::"}, {{"SARNIVELLE_TEST_TRACE", dir.file("no/t")},
                                                        {"XML_OUTPUT_FILE", dir.file("test.xml")}});
    EXPECT_EQ(result.exit_status, 101);
    EXPECT_NE(result.out.find("test result: ok. 3 passed; 0 failed;"), std::string::npos)
        << result.out;
    EXPECT_EQ(result.err, "error: io error when listing tests: Os { code: 2, message: \"No such "
                          "file or directory\" }\n");
    EXPECT_NE(read_file(dir.file("test.xml")).find("tests=\"3\" failures=\"0\""),
              std::string::npos);
}

} // namespace
} // namespace protocol_tests
