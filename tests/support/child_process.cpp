#include "child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <string_view>

extern char** environ;

namespace test_support {
namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

struct Pipe {
    int read_end = -1;
    int write_end = -1;

    Pipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            fail("pipe2");
        }
        read_end = fds[0];
        write_end = fds[1];
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    ~Pipe() {
        close_read();
        close_write();
    }
    void close_read() {
        if (read_end >= 0) {
            ::close(read_end);
            read_end = -1;
        }
    }
    void close_write() {
        if (write_end >= 0) {
            ::close(write_end);
            write_end = -1;
        }
    }
};

// Variables of the test protocol of a build system running these tests: a child must not
// shard, nor write or remove the files meant for the test that runs it.
bool is_test_protocol_variable(std::string_view entry) {
    for (const std::string_view name :
         {"TEST_TOTAL_SHARDS=", "TEST_SHARD_INDEX=", "TEST_SHARD_STATUS_FILE=", "XML_OUTPUT_FILE=",
          "TEST_PREMATURE_EXIT_FILE=", "TEST_UNDECLARED_OUTPUTS_DIR="}) {
        if (entry.starts_with(name)) {
            return true;
        }
    }
    return false;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (std::string& text : texts) {
        result.push_back(text.data());
    }
    result.push_back(nullptr);
    return result;
}

// Reads both pipes until both reach their end or the time limit passes.
bool drain(int out_fd, int err_fd, std::string& out, std::string& err,
           std::chrono::steady_clock::time_point limit) {
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* sinks[2] = {&out, &err};
    int open_count = (out_fd >= 0 ? 1 : 0) + 1;
    if (out_fd < 0) {
        fds[0].fd = -1;
    }
    char buffer[65536];
    while (open_count > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            limit - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        const int ready = ::poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            fail("poll");
        }
        for (std::size_t i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    return true;
}

} // namespace

std::vector<std::string> child_environment(const ChildSpec& child) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "SARNIVELLE_", 11) != 0 && !is_test_protocol_variable(*entry)) {
            env.emplace_back(*entry);
        }
    }
    for (const auto& [name, value] : child.env) {
        env.push_back(name + "=" + value);
    }
    return env;
}

ChildResult run_child(const std::string& program, const ChildSpec& child) {
    std::vector<std::string> argv_texts{program};
    argv_texts.insert(argv_texts.end(), child.args.begin(), child.args.end());
    std::vector<std::string> env_texts = child_environment(child);
    std::vector<char*> argv = pointers(argv_texts);
    std::vector<char*> envp = pointers(env_texts);

    Pipe out_pipe;
    Pipe err_pipe;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    switch (child.stdout_target) {
    case StdoutTarget::Pipe:
    case StdoutTarget::BrokenPipe:
        posix_spawn_file_actions_adddup2(&actions, out_pipe.write_end, STDOUT_FILENO);
        break;
    case StdoutTarget::DevFull:
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/full", O_WRONLY, 0);
        break;
    case StdoutTarget::Closed:
        posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO);
        break;
    }
    posix_spawn_file_actions_adddup2(&actions, err_pipe.write_end, STDERR_FILENO);
    if (child.stdout_target == StdoutTarget::BrokenPipe) {
        // Nobody will ever read what the child writes.
        out_pipe.close_read();
    }

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    const int spawned =
        ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        errno = spawned;
        fail("posix_spawn " + program);
    }
    out_pipe.close_write();
    err_pipe.close_write();

    ChildResult result;
    const auto limit = std::chrono::steady_clock::now() + child.time_limit;
    if (!drain(out_pipe.read_end, err_pipe.read_end, result.out, result.err, limit)) {
        result.timed_out = true;
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            fail("waitpid");
        }
    }
    if (WIFEXITED(status)) {
        result.exited = true;
        result.exit_status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

} // namespace test_support
