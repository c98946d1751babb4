// The process mode: each check in a child of the fork server. The runner's side keeps the
// running children, reads what each writes, ends those asked to end, and turns however a child
// ended into its check's completed result, sent on the loop's channel like a check thread's.
#pragma once

#include <poll.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "process/fork_server.hpp"
#include "run/channel.hpp"
#include "run/run_test.hpp"
#include "runner/options.hpp"

namespace runner {

class CheckProcesses {
public:
    using clock = std::chrono::steady_clock;

    CheckProcesses(process::ForkServer& server, std::chrono::milliseconds grace)
        : server_(server), grace_(grace) {}
    ~CheckProcesses();
    CheckProcesses(const CheckProcesses&) = delete;
    CheckProcesses& operator=(const CheckProcesses&) = delete;

    // Starts the check of `run` in a process of its own; its result is sent on run->channel
    // once the process has sent it or has ended (at once, as a failure, when none can be
    // started).
    void start(std::shared_ptr<CheckRun> run);
    // Sends `signal` to the process group of check `id`, and SIGKILL once the grace has passed;
    // the check then fails with `message`, unless it sent its result first.
    void end(TestId id, int signal, std::string message);

    // The descriptors to wait on, added to `fds`; then `on_poll` with the same vector and the
    // index of the first of them.
    void add_poll_fds(std::vector<pollfd>& fds) const;
    void on_poll(const std::vector<pollfd>& fds, std::size_t first);
    // When the next grace ends, if one is running.
    std::optional<clock::time_point> next_kill() const;

private:
    struct Child {
        std::shared_ptr<CheckRun> run;
        int result_fd = -1;
        int output_fd = -1;
        std::string record;
        std::string output;
        clock::time_point started;
        std::optional<std::string> end_message;
        std::optional<clock::time_point> kill_at;
    };

    void finish(std::size_t index, TestResult failure, bool exited_cleanly);
    // Finishes child `index` with the record it sent; false when that is malformed.
    bool finish_recorded(std::size_t index);
    void finish_ended(std::size_t index, int wait_status);
    std::size_t index_of(std::uint64_t token) const;

    process::ForkServer& server_;
    std::chrono::milliseconds grace_;
    std::vector<Child> children_;
    bool server_gone_ = false;
    bool note_shown_ = false; // a check's process showed the run's note on backtraces
};

// The body of a check's process: runs the check a child is asked for as the in-process mode
// does (through run_test), writes its result record and ends the process. Made before the fork
// server, so that every child finds its check by name without reading the whole list.
class CheckProcessMain {
public:
    CheckProcessMain(const std::vector<TestDescAndFn>& tests, const TestOpts& opts);
    [[noreturn]] void operator()(const process::ChildRequest& request);

private:
    const std::vector<TestDescAndFn>& tests_;
    const TestOpts& opts_;
    std::unordered_map<std::string_view, std::size_t> by_name_;
    // Read once, before the fork server: the same for every check's process, which inherits
    // them instead of looking them up again.
    bool main_thread_fits_check_ = false;
    // Allocated before the fork server, so that a check's process finds it ready: the pages a
    // new process writes cost it a fault each, and an unused signal stack is never written.
    std::unique_ptr<char[]> signal_stack_ = make_signal_stack();
};

} // namespace runner
