// The timeline of a run, in the Trace Event Format that trace viewers read.
//
// The recorder follows the same events as a report form. Each executed check becomes one
// complete event on the lane of the worker slot that ran it; an overdue notice is an instant
// event on that lane; an ignored check is an instant event on the runner's lane at the moment
// it is reported; the whole run is one complete event on the runner's lane. Times are
// microseconds since the recorder was made.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "format/formatter.hpp"

namespace runner {

class TraceRecorder final : public OutputFormatter {
public:
    using Clock = std::chrono::steady_clock;

    // `process_name` names the process in viewers. The number of worker slots comes with
    // set_concurrency.
    explicit TraceRecorder(std::string process_name);

    void write_discovery_start() override {}
    void write_test_discovered(const TestDesc&, bool) override {}
    void write_discovery_finish(const DiscoveryState&) override {}
    void write_run_start(std::size_t test_count,
                         std::optional<std::uint64_t> shuffle_seed) override;
    void set_concurrency(std::size_t threads) override;
    void write_test_start(const TestDesc& desc) override;
    void write_timeout(const TestDesc& desc) override;
    void write_result(const TestDesc& desc, const TestResult& result,
                      const std::optional<TestExecTime>& exec_time,
                      std::string_view stdout_bytes) override;
    bool write_run_finish(const RunCounts& state) override;

    // The document, complete once the run has finished.
    std::string json() const;

private:
    struct Event {
        char phase = 'X'; // 'X' complete, 'i' instant
        std::string name;
        std::string category;
        std::size_t lane = 0; // 0 is the runner's own lane, slot s is lane s + 1
        Clock::duration start{};
        Clock::duration duration{};
        std::vector<std::pair<std::string, std::string>> args; // values as JSON
    };
    struct Running {
        std::size_t slot = 0;
        Clock::duration start{};
    };
    struct Waiting {
        std::string name;
        Clock::duration start{};
    };

    Clock::duration now() const { return Clock::now() - origin_; }
    void occupy(std::size_t slot, const std::string& name, Clock::duration start);

    Clock::time_point origin_ = Clock::now();
    std::string process_name_;
    std::set<std::size_t> free_slots_;
    std::size_t lanes_used_ = 0;
    std::unordered_map<std::string, std::deque<Running>> running_;
    // Checks started while every slot was taken: the main thread starts a check only after it
    // received a result, so the first of them runs in the slot of the next check reported.
    std::deque<Waiting> waiting_;
    std::vector<Event> events_;
    Clock::duration run_start_{};
    std::optional<std::uint64_t> shuffle_seed_;
};

// Writes `bytes` as the whole document at `path` (platform::write_file_whole); throws IoError.
void write_whole_file(const std::string& path, std::string_view bytes);

} // namespace runner
