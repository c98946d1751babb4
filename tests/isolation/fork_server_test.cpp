// The fork server and the result record on their own: what a child sends arrives whole, each
// way a child ends is told apart, nothing is left open, and a record that is not exactly one
// well-formed record is refused.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "process/fork_server.hpp"
#include "process/result_record.hpp"

namespace isolation_unit_tests {
namespace {

using runner::process::ChildRequest;
using runner::process::ForkServer;
using runner::process::ResultRecord;

std::size_t open_descriptors() {
    std::size_t count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir) != nullptr) {
            ++count;
        }
        ::closedir(dir);
    }
    return count;
}

// The next event of `server`, waiting for it at most five seconds.
std::optional<ForkServer::Event> next_event(ForkServer& server) {
    pollfd fd{server.fd(), POLLIN, 0};
    if (::poll(&fd, 1, 5000) <= 0) {
        return std::nullopt;
    }
    return server.read_event();
}

// Children that write their name as the result and end as the name says.
void child_main(const ChildRequest& request) {
    const std::string name(request.name);
    [[maybe_unused]] const ssize_t written = ::write(request.result_fd, name.data(), name.size());
    [[maybe_unused]] const ssize_t printed = ::write(1, "out", 3);
    if (name == "usr1") {
        std::raise(SIGUSR1);
    }
    if (name == "exit 7") {
        ::_exit(7);
    }
    if (name == "hang") {
        ::pause();
    }
}

TEST(ForkServer, each_end_of_a_child_is_told_and_nothing_is_left_open) {
    const std::size_t before = open_descriptors();
    {
        const auto server = ForkServer::start(&child_main);
        const struct {
            const char* name;
            bool signalled;
            int value; // the signal or the exit status
        } cases[] = {{"ok", false, 0},
                     {"exit 7", false, 7},
                     {"usr1", true, SIGUSR1},
                     {"hang", true, SIGTERM}};
        std::uint64_t token = 0;
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            int result[2];
            int output[2];
            ASSERT_EQ(::pipe2(result, O_CLOEXEC), 0);
            ASSERT_EQ(::pipe2(output, O_CLOEXEC), 0);
            ++token;
            ASSERT_TRUE(server->start_child(token, ChildRequest{c.name, false, false, result[1]},
                                            output[1]));
            ::close(result[1]);
            ::close(output[1]);
            // What the child wrote arrives whole; a child that waits is then ended.
            char bytes[64] = {};
            EXPECT_EQ(::read(result[0], bytes, sizeof bytes),
                      static_cast<ssize_t>(std::strlen(c.name)));
            EXPECT_EQ(std::string(bytes), c.name);
            EXPECT_EQ(::read(output[0], bytes, sizeof bytes), 3);
            if (std::string(c.name) == "hang") {
                ASSERT_TRUE(server->signal_child(token, SIGTERM));
            }
            const auto event = next_event(*server);
            ASSERT_TRUE(event.has_value());
            EXPECT_EQ(event->kind, ForkServer::Event::Kind::Exited);
            EXPECT_EQ(event->token, token);
            EXPECT_EQ(WIFSIGNALED(event->status), c.signalled);
            EXPECT_EQ(c.signalled ? WTERMSIG(event->status) : WEXITSTATUS(event->status), c.value);
            ::close(result[0]);
            ::close(output[0]);
        }
        // A signal sent as soon as the child is asked for is not lost while it starts.
        {
            int result[2];
            ASSERT_EQ(::pipe2(result, O_CLOEXEC), 0);
            ASSERT_TRUE(
                server->start_child(++token, ChildRequest{"hang", false, false, result[1]}, -1));
            ASSERT_TRUE(server->signal_child(token, SIGTERM));
            ::close(result[1]);
            const auto event = next_event(*server);
            ::close(result[0]);
            ASSERT_TRUE(event.has_value());
            EXPECT_TRUE(WIFSIGNALED(event->status) && WTERMSIG(event->status) == SIGTERM);
        }
        // A child still running when the runner lets go of the server ends with it.
        int result[2];
        ASSERT_EQ(::pipe2(result, O_CLOEXEC), 0);
        ASSERT_TRUE(
            server->start_child(++token, ChildRequest{"hang", false, false, result[1]}, -1));
        ::close(result[1]);
        char byte = 0;
        EXPECT_EQ(::read(result[0], &byte, 1), 1);
        ::close(result[0]);
    }
    EXPECT_EQ(open_descriptors(), before);
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1); // the server has been waited for
}

TEST(ResultRecord, round_trip_and_refusals) {
    ResultRecord record;
    record.result = runner::TestResult::failed_with("why\0it failed");
    record.exec_time = runner::TestExecTime{std::chrono::nanoseconds(-5)};
    record.output = std::string("out\0put", 7);
    record.note_shown = true;
    const std::string bytes = runner::process::encode_record(record);
    const auto decoded = runner::process::decode_record(bytes);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->result.kind, record.result.kind);
    EXPECT_EQ(decoded->result.message, record.result.message);
    EXPECT_EQ(decoded->exec_time->duration, record.exec_time->duration);
    EXPECT_EQ(decoded->output, record.output);
    EXPECT_TRUE(decoded->note_shown);

    std::string bad_version = bytes;
    bad_version[4] = 2;
    std::string bad_kind = bytes;
    bad_kind[6] = 6;
    std::string huge_length = bytes;
    huge_length.replace(bytes.size() - 7 - 8, 8, std::string(8, '\xff'));
    for (const std::string& malformed :
         {std::string(), bytes.substr(0, bytes.size() - 1), bytes + "x", bad_version, bad_kind,
          huge_length, "XRNV" + bytes.substr(4)}) {
        EXPECT_FALSE(runner::process::decode_record(malformed).has_value());
    }

    // The runner knows a record is whole as soon as both lengths have arrived: from then on
    // the size is the record's own, before then there is none.
    const std::size_t lengths_arrived = bytes.size() - record.output.size();
    for (std::size_t n = 0; n <= bytes.size(); ++n) {
        EXPECT_EQ(runner::process::record_size(std::string_view(bytes).substr(0, n)),
                  n >= lengths_arrived ? std::optional<std::size_t>(bytes.size()) : std::nullopt)
            << n << " bytes";
    }
    for (const std::string& refused : {bad_version, huge_length, "XRNV" + bytes.substr(4)}) {
        EXPECT_FALSE(runner::process::record_size(refused).has_value());
    }
}

} // namespace
} // namespace isolation_unit_tests
