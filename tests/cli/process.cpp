#include "process.hpp"

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <stdexcept>
#include <string_view>

extern char** environ;

namespace cli {

namespace {

class Pipe {
public:
    Pipe() {
        if (pipe(fds_.data()) != 0) {
            throw std::runtime_error("pipe failed");
        }
    }
    ~Pipe() {
        close_read();
        close_write();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    int read_end() const { return fds_[0]; }
    int write_end() const { return fds_[1]; }
    void close_read() { close_fd(fds_[0]); }
    void close_write() { close_fd(fds_[1]); }

private:
    std::array<int, 2> fds_{-1, -1};
    static void close_fd(int& fd) {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }
};

std::vector<std::string> child_environment(const std::map<std::string, std::string>& env) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!std::string_view(*entry).starts_with("SARNIVELLE_")) {
            entries.emplace_back(*entry);
        }
    }
    for (const auto& [name, value] : env) {
        entries.push_back(name + "=" + value);
    }
    return entries;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (auto& text : texts) {
        result.push_back(text.data());
    }
    result.push_back(nullptr);
    return result;
}

} // namespace

Finished run(const std::string& program, const std::vector<std::string>& args,
             const std::map<std::string, std::string>& env) {
    Pipe out;
    Pipe err;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out.write_end(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err.write_end(), STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, out.read_end());
    posix_spawn_file_actions_addclose(&actions, err.read_end());

    std::vector<std::string> argv_texts{program};
    argv_texts.insert(argv_texts.end(), args.begin(), args.end());
    auto argv = pointers(argv_texts);
    auto env_texts = child_environment(env);
    auto envp = pointers(env_texts);

    pid_t pid = 0;
    const int spawned =
        posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::runtime_error("cannot start " + program);
    }
    out.close_write();
    err.close_write();

    Finished finished;
    std::array<pollfd, 2> polled{pollfd{out.read_end(), POLLIN, 0},
                                 pollfd{err.read_end(), POLLIN, 0}};
    std::array<std::string*, 2> sinks{&finished.out, &finished.err};
    int open_streams = 2;
    while (open_streams > 0) {
        if (poll(polled.data(), polled.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::runtime_error("poll failed");
        }
        for (std::size_t i = 0; i < polled.size(); ++i) {
            if (polled[i].fd < 0 || polled[i].revents == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t count = read(polled[i].fd, buffer, sizeof buffer);
            if (count > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(count));
            } else if (count == 0 || errno != EINTR) {
                polled[i].fd = -1;
                --open_streams;
            }
        }
    }

    int wait_status = 0;
    while (waitpid(pid, &wait_status, 0) < 0 && errno == EINTR) {
    }
    finished.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    return finished;
}

} // namespace cli
