#include "format/trace.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "format/output_location.hpp"
#include "format/text_escape.hpp"
#include "platform/platform.hpp"

namespace runner {
namespace {

// Microseconds with three decimals, from whole nanoseconds: exact, so that an event that ends
// where the next one starts shows the same number for both.
std::string microseconds(TraceRecorder::Clock::duration time) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(time).count();
    const long long whole = ns < 0 ? 0 : static_cast<long long>(ns);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%lld.%03lld", whole / 1000, whole % 1000);
    return buffer;
}

std::string metadata(long pid, std::size_t lane, std::string_view what, std::string_view key,
                     std::string_view value) {
    return "{\"ph\":\"M\",\"pid\":" + std::to_string(pid) + ",\"tid\":" + std::to_string(lane) +
           ",\"name\":\"" + std::string(what) + "\",\"args\":{\"" + std::string(key) +
           "\":" + std::string(value) + "}}";
}

std::string json_text(std::string_view text) {
    std::string out;
    append_json_string(out, text);
    return out;
}

} // namespace

TraceRecorder::TraceRecorder(std::string process_name) : process_name_(std::move(process_name)) {}

void TraceRecorder::set_concurrency(std::size_t threads) {
    free_slots_.clear();
    for (std::size_t slot = 0; slot < std::max<std::size_t>(threads, 1); ++slot) {
        free_slots_.insert(slot);
    }
}

void TraceRecorder::write_run_start(std::size_t /*test_count*/,
                                    std::optional<std::uint64_t> shuffle_seed) {
    run_start_ = now();
    shuffle_seed_ = shuffle_seed;
}

void TraceRecorder::occupy(std::size_t slot, const std::string& name, Clock::duration start) {
    running_[name].push_back(Running{slot, start});
    lanes_used_ = std::max(lanes_used_, slot + 1);
}

void TraceRecorder::write_test_start(const TestDesc& desc) {
    const Clock::duration start = now();
    std::string name(desc.name);
    if (free_slots_.empty()) {
        waiting_.push_back(Waiting{std::move(name), start});
        return;
    }
    const std::size_t slot = *free_slots_.begin();
    free_slots_.erase(free_slots_.begin());
    occupy(slot, name, start);
}

void TraceRecorder::write_timeout(const TestDesc& desc) {
    const auto found = running_.find(std::string(desc.name));
    const std::size_t lane =
        found == running_.end() || found->second.empty() ? 0 : found->second.front().slot + 1;
    events_.push_back(
        Event{'i', "overdue", "overdue", lane, now(), {}, {{"check", json_text(desc.name)}}});
}

void TraceRecorder::write_result(const TestDesc& desc, const TestResult& result,
                                 const std::optional<TestExecTime>& /*exec_time*/,
                                 std::string_view /*stdout_bytes*/) {
    const Clock::duration reported = now();
    std::string name(desc.name);
    std::optional<Running> ran;
    if (const auto found = running_.find(name); found != running_.end()) {
        ran = found->second.front();
        found->second.pop_front();
        if (found->second.empty()) {
            running_.erase(found);
        }
    }

    Clock::duration end = reported;
    if (ran) {
        if (waiting_.empty()) {
            free_slots_.insert(ran->slot);
        } else {
            // The waiting check was started once this one had finished: it took this slot.
            Waiting next = std::move(waiting_.front());
            waiting_.pop_front();
            end = std::min(end, next.start);
            occupy(ran->slot, next.name, next.start);
        }
    }

    std::vector<std::pair<std::string, std::string>> args{
        {"outcome", json_text(outcome_word(result.kind))}};
    if (result.kind == TestResultKind::FailedWithMessage) {
        args.emplace_back("message", json_text(result.message));
    }
    if (result.kind == TestResultKind::Ignored || !ran) {
        if (desc.ignore_message) {
            args.emplace_back("message", json_text(*desc.ignore_message));
        }
        events_.push_back(Event{'i', std::move(name), "check", 0, reported, {}, std::move(args)});
        return;
    }
    // A check that ran again: one event per attempt, each starting where the one before ended.
    Clock::duration attempt_start = ran->start;
    const auto& earlier = result.earlier_attempts;
    for (std::size_t i = 0; i < earlier.size(); ++i) {
        const Clock::duration ended = std::max(earlier[i].ended - origin_, attempt_start);
        std::vector<std::pair<std::string, std::string>> attempt_args{
            {"outcome", json_text(outcome_word(earlier[i].kind))},
            {"attempt", std::to_string(i + 1)}};
        if (earlier[i].kind == TestResultKind::FailedWithMessage) {
            attempt_args.emplace_back("message", json_text(earlier[i].message));
        }
        events_.push_back(Event{'X', name, "check", ran->slot + 1, attempt_start,
                                ended - attempt_start, std::move(attempt_args)});
        attempt_start = ended;
    }
    if (!earlier.empty()) {
        args.emplace_back("attempt", std::to_string(earlier.size() + 1));
    }
    events_.push_back(Event{'X', std::move(name), "check", ran->slot + 1, attempt_start,
                            std::max(end, attempt_start) - attempt_start, std::move(args)});
}

bool TraceRecorder::write_run_finish(const RunCounts& state) {
    const Clock::duration end = now();
    std::vector<std::pair<std::string, std::string>> args{
        {"passed", std::to_string(state.passed)},
        {"failed", std::to_string(state.failed)},
        {"ignored", std::to_string(state.ignored)},
        {"measured", std::to_string(state.measured)},
        {"filtered_out", std::to_string(state.filtered_out)}};
    if (state.flaky) {
        args.emplace_back("flaky", std::to_string(*state.flaky));
    }
    if (shuffle_seed_) {
        // As text: a viewer reads numbers as doubles, which would round a 64-bit seed.
        args.emplace_back("shuffle_seed", json_text(std::to_string(*shuffle_seed_)));
    }
    events_.push_back(Event{'X', "run", "run", 0, run_start_, end - run_start_, std::move(args)});
    return state.succeeded();
}

std::string TraceRecorder::json() const {
    const long pid = static_cast<long>(::getpid());
    std::vector<std::string> lines;
    std::string quoted;
    append_json_string(quoted, process_name_);
    lines.push_back(metadata(pid, 0, "process_name", "name", quoted));
    lines.push_back(metadata(pid, 0, "thread_name", "name", "\"runner\""));
    lines.push_back(metadata(pid, 0, "thread_sort_index", "sort_index", "0"));
    for (std::size_t lane = 1; lane <= lanes_used_; ++lane) {
        lines.push_back(
            metadata(pid, lane, "thread_name", "name", "\"worker " + std::to_string(lane) + "\""));
        lines.push_back(
            metadata(pid, lane, "thread_sort_index", "sort_index", std::to_string(lane)));
    }
    for (const Event& event : events_) {
        std::string line = "{\"ph\":\"";
        line += event.phase;
        line += "\",\"pid\":" + std::to_string(pid) + ",\"tid\":" + std::to_string(event.lane) +
                ",\"name\":";
        append_json_string(line, event.name);
        line += ",\"cat\":\"" + event.category + "\",\"ts\":" + microseconds(event.start);
        if (event.phase == 'X') {
            line += ",\"dur\":" + microseconds(event.duration);
        } else {
            line += ",\"s\":\"t\"";
        }
        line += ",\"args\":{";
        for (std::size_t a = 0; a < event.args.size(); ++a) {
            line += a == 0 ? "\"" : ",\"";
            line += event.args[a].first + "\":";
            line += event.args[a].second;
        }
        line += "}}";
        lines.push_back(std::move(line));
    }
    std::string out = "{\"displayTimeUnit\":\"ms\",\"traceEvents\":[\n";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        out += lines[i];
        out += i + 1 < lines.size() ? ",\n" : "\n";
    }
    out += "]}\n";
    return out;
}

void write_whole_file(const std::string& path, std::string_view bytes) {
    if (const int error = platform::write_file_whole(path, bytes); error != 0) {
        throw IoError::from_errno(error);
    }
}

} // namespace runner
