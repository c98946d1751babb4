#include "run/check_processes.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>

#include "check/failure.hpp"
#include "check/thread_context.hpp"
#include "platform/interrupts.hpp"
#include "platform/platform.hpp"
#include "process/result_record.hpp"
#include "run/crash.hpp"
#include "run/run_test.hpp"
#include "select/select.hpp"

namespace runner {
namespace {

void close_fd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// Reads what `fd` has into `bytes` without waiting; closes it at its end.
void read_available(int& fd, std::string& bytes) {
    char buffer[65536];
    while (fd >= 0) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            bytes.append(buffer, static_cast<std::size_t>(got));
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        } else {
            close_fd(fd);
        }
    }
}

// A pipe whose reading end (kept by the runner) does not block.
bool make_pipe(int& read_end, int& write_end) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return false;
    }
    fds[0] = platform::above_standard_streams(fds[0]);
    fds[1] = platform::above_standard_streams(fds[1]);
    if (fds[0] < 0 || fds[1] < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    read_end = fds[0];
    write_end = fds[1];
    return true;
}

std::string describe_end(int wait_status, bool sent_record) {
    if (WIFSIGNALED(wait_status)) {
        const int signal = WTERMSIG(wait_status);
        return "the check's process was killed by signal " + std::to_string(signal) + " (" +
               platform::signal_name(signal) + ")";
    }
    const std::string status = std::to_string(WEXITSTATUS(wait_status));
    return sent_record
               ? "the check's process sent a malformed result and exited with status " + status
               : "the check's process exited with status " + status + " before reporting a result";
}

} // namespace

CheckProcesses::~CheckProcesses() {
    for (Child& child : children_) {
        close_fd(child.result_fd);
        close_fd(child.output_fd);
    }
}

void CheckProcesses::start(std::shared_ptr<CheckRun> run) {
    Child child;
    child.run = std::move(run);
    child.started = clock::now();
    int result_write = -1;
    int output_write = -1;
    bool made = make_pipe(child.result_fd, result_write);
    // With capture off, the check writes where the runner does.
    if (made && !child.run->nocapture) {
        made = make_pipe(child.output_fd, output_write);
    }
    const int error = errno;
    bool requested = false;
    if (made && !server_gone_) {
        requested =
            server_.start_child(child.run->id.value,
                                process::ChildRequest{child.run->test.desc.name, child.run->measure,
                                                      note_shown_, result_write},
                                output_write);
    }
    if (result_write >= 0) {
        ::close(result_write);
    }
    if (output_write >= 0) {
        ::close(output_write);
    }
    children_.push_back(std::move(child));
    if (!requested) {
        finish(children_.size() - 1,
               TestResult::failed_with(std::string("the check's process could not be started: ") +
                                       (made ? "the fork server has ended" : std::strerror(error))),
               false);
    }
}

void CheckProcesses::end(TestId id, int signal, std::string message) {
    const std::size_t index = index_of(id.value);
    if (index == children_.size() || children_[index].end_message) {
        return;
    }
    Child& child = children_[index];
    child.end_message = std::move(message);
    child.kill_at = clock::now() + grace_;
    server_.signal_child(id.value, signal);
}

void CheckProcesses::add_poll_fds(std::vector<pollfd>& fds) const {
    fds.push_back(pollfd{server_gone_ ? -1 : server_.fd(), POLLIN, 0});
    for (const Child& child : children_) {
        fds.push_back(pollfd{child.result_fd, POLLIN, 0});
        fds.push_back(pollfd{child.output_fd, POLLIN, 0});
    }
}

void CheckProcesses::on_poll(const std::vector<pollfd>& fds, std::size_t first) {
    // The children's pipes first, in the order they were added; a child whose whole record has
    // arrived has finished its check, though its process may still be ending. Then the server's
    // events, which may finish children too.
    std::vector<std::uint64_t> recorded;
    std::size_t at = first + 1;
    for (std::size_t i = 0; i < children_.size() && at + 1 < fds.size() + 1; ++i, at += 2) {
        Child& child = children_[i];
        if (at < fds.size() && fds[at].revents != 0) {
            read_available(child.result_fd, child.record);
            const auto size = process::record_size(child.record);
            if (size && *size == child.record.size()) {
                recorded.push_back(child.run->id.value);
            }
        }
        if (at + 1 < fds.size() && fds[at + 1].revents != 0) {
            read_available(child.output_fd, child.output);
        }
    }
    for (const std::uint64_t token : recorded) {
        finish_recorded(index_of(token));
    }
    if (first < fds.size() && fds[first].revents != 0) {
        while (const auto event = server_.read_event()) {
            using Kind = process::ForkServer::Event::Kind;
            if (event->kind == Kind::ServerGone) {
                server_gone_ = true;
                while (!children_.empty()) {
                    finish(0,
                           TestResult::failed_with("the check's process was lost: the fork "
                                                   "server has ended"),
                           false);
                }
                break;
            }
            const std::size_t index = index_of(event->token);
            if (index == children_.size()) {
                continue;
            }
            if (event->kind == Kind::NotStarted) {
                finish(index,
                       TestResult::failed_with(
                           std::string("the check's process could not be started: ") +
                           std::strerror(event->status)),
                       false);
            } else {
                finish_ended(index, event->status);
            }
        }
    }
    const auto now = clock::now();
    for (Child& child : children_) {
        if (child.kill_at && *child.kill_at <= now) {
            child.kill_at.reset();
            server_.signal_child(child.run->id.value, SIGKILL);
        }
    }
}

std::optional<CheckProcesses::clock::time_point> CheckProcesses::next_kill() const {
    std::optional<clock::time_point> next;
    for (const Child& child : children_) {
        if (child.kill_at && (!next || *child.kill_at < *next)) {
            next = child.kill_at;
        }
    }
    return next;
}

bool CheckProcesses::finish_recorded(std::size_t index) {
    Child& child = children_[index];
    // What the process wrote before its record is in the pipe by now; what its group writes
    // later is not waited for.
    read_available(child.output_fd, child.output);
    auto record = process::decode_record(child.record);
    if (!record) {
        return false;
    }
    CheckRun& run = *child.run;
    record->output += child.output;
    note_shown_ = note_shown_ || record->note_shown;
    run.completed = CompletedTest{run.id, run.test.desc, std::move(record->result),
                                  record->exec_time, std::move(record->output)};
    finish(index, {}, true);
    return true;
}

void CheckProcesses::finish_ended(std::size_t index, int wait_status) {
    Child& child = children_[index];
    // Everything the child wrote is in the pipes now.
    read_available(child.result_fd, child.record);
    const bool clean = WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0;
    if (clean && finish_recorded(index)) {
        return;
    }
    read_available(child.output_fd, child.output);
    finish(index,
           TestResult::failed_with(child.end_message
                                       ? *child.end_message
                                       : describe_end(wait_status, !child.record.empty())),
           false);
}

void CheckProcesses::finish(std::size_t index, TestResult failure, bool completed) {
    Child child = std::move(children_[index]);
    children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(index));
    close_fd(child.result_fd);
    close_fd(child.output_fd);
    CheckRun& run = *child.run;
    if (!completed) {
        std::optional<TestExecTime> exec_time;
        if (run.time_options) {
            exec_time = TestExecTime{clock::now() - child.started};
        }
        run.completed = CompletedTest{run.id, run.test.desc, std::move(failure), exec_time,
                                      std::move(child.output)};
    }
    const std::shared_ptr<ResultChannel> channel = run.channel;
    channel->send(std::move(child.run));
}

std::size_t CheckProcesses::index_of(std::uint64_t token) const {
    const auto found = std::find_if(children_.begin(), children_.end(),
                                    [token](const Child& c) { return c.run->id.value == token; });
    return static_cast<std::size_t>(found - children_.begin());
}

CheckProcessMain::CheckProcessMain(const std::vector<TestDescAndFn>& tests, const TestOpts& opts)
    : tests_(tests), opts_(opts) {
    by_name_.reserve(tests.size());
    for (std::size_t i = 0; i < tests.size(); ++i) {
        by_name_.emplace(tests[i].desc.name, i); // the first of a name, as a search would find
    }
    main_thread_fits_check_ = main_thread_fits_check();
    prepare_check_process_handlers();
}

void CheckProcessMain::operator()(const process::ChildRequest& request) {
    const auto found = by_name_.find(request.name);
    if (found == by_name_.end()) {
        ::_exit(2);
    }
    std::vector<TestDescAndFn> one{tests_[found->second]};
    if (!request.measure) {
        one = convert_benchmarks_to_tests(std::move(one));
    }
    auto run = std::make_shared<CheckRun>();
    run->test = std::move(one.front());
    run->measure = request.measure;
    run->nocapture = opts_.nocapture;
    run->time_options = opts_.time_options;
    run->signal_stack = std::move(signal_stack_);
    const bool shows_note = !request.note_shown;
    detail::set_backtrace_note_pending(shows_note);
    if (!opts_.nocapture) {
        detail::install_stream_capture();
    }
    install_check_process_handlers(run->test.desc.name, opts_.nocapture ? nullptr : &run->capture);

    // The process has one thread, which runs the check when its stack is large enough: starting
    // a thread costs a check's process more than many checks take.
    const CompletedTest completed = [&] {
        if (main_thread_fits_check_) {
            return run_test_here(run);
        }
        run->channel = std::make_shared<ResultChannel>();
        RunningTest running = run_test(run, false);
        std::shared_ptr<CheckRun> done = run->channel->recv();
        running.join();
        return take_result(*done);
    }();
    const std::string record = process::encode_record(
        process::ResultRecord{completed.result, completed.exec_time, completed.stdout_bytes,
                              shows_note && !detail::backtrace_note_pending()});
    // What the check wrote through C stdio goes out before the result.
    std::fflush(stdout);
    std::fflush(stderr);
    std::string_view rest = record;
    while (!rest.empty()) {
        const ssize_t written = ::write(request.result_fd, rest.data(), rest.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            ::_exit(3);
        }
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
    ::_exit(0);
}

} // namespace runner
