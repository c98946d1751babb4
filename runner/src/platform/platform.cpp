#include "platform/platform.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <pthread.h>
#include <sched.h>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace runner::platform {

namespace {

// `fd`, or a copy of it above standard error (`fd` is then closed).
int above_standard_streams(int fd) {
    if (fd < 0 || fd > STDERR_FILENO) {
        return fd;
    }
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int error = errno;
    ::close(fd);
    errno = error;
    return moved;
}

int open_file(const char* path, int flags, mode_t mode = 0) {
    int fd = -1;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return above_standard_streams(fd);
}

// Every line of a small file.
std::vector<std::string> read_lines(const std::string& path) {
    std::vector<std::string> lines;
    const int fd = open_file(path.c_str(), O_RDONLY);
    if (fd < 0) {
        return lines;
    }
    std::string text;
    char buffer[1024];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The first line of a small file; nothing when it cannot be read or is empty.
std::optional<std::string> read_first_line(const std::string& path) {
    std::vector<std::string> lines = read_lines(path);
    if (lines.empty()) {
        return std::nullopt;
    }
    return std::move(lines.front());
}

// The CPU quota of the process's control group (version 2 "cpu.max", else version 1
// "cpu.cfs_quota_us"), as whole processors rounded up; nothing when there is no quota.
std::optional<std::size_t> cgroup_cpu_quota() {
    std::string group;
    for (const std::string& line : read_lines("/proc/self/cgroup")) {
        if (line.starts_with("0::")) {
            group = line.substr(3);
        }
    }
    std::optional<std::size_t> limit;
    const auto consider = [&limit](double quota, double period) {
        if (quota > 0 && period > 0) {
            const auto cpus = static_cast<std::size_t>(std::max(1.0, std::ceil(quota / period)));
            limit = limit ? std::min(*limit, cpus) : cpus;
        }
    };
    // Every level of the hierarchy may limit the group.
    for (std::string dir = group; !dir.empty();) {
        if (const auto line = read_first_line("/sys/fs/cgroup" + dir + "/cpu.max")) {
            std::istringstream fields(*line);
            std::string quota;
            double period = 0;
            if (fields >> quota >> period && quota != "max") {
                consider(std::strtod(quota.c_str(), nullptr), period);
            }
        }
        const std::size_t slash = dir.find_last_of('/');
        dir = slash == 0 || slash == std::string::npos ? std::string() : dir.substr(0, slash);
    }
    const auto quota = read_first_line("/sys/fs/cgroup/cpu/cpu.cfs_quota_us");
    const auto period = read_first_line("/sys/fs/cgroup/cpu/cpu.cfs_period_us");
    if (quota && period) {
        consider(std::strtod(quota->c_str(), nullptr), std::strtod(period->c_str(), nullptr));
    }
    return limit;
}

} // namespace

std::optional<std::size_t> available_parallelism() {
    std::optional<std::size_t> count;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
        count = static_cast<std::size_t>(CPU_COUNT(&set));
    } else if (const long online = sysconf(_SC_NPROCESSORS_ONLN); online > 0) {
        count = static_cast<std::size_t>(online);
    }
    if (const auto quota = cgroup_cpu_quota(); quota && count) {
        count = std::min(*count, *quota);
    }
    return count;
}

bool stdout_is_terminal() {
    return isatty(STDOUT_FILENO) == 1;
}

std::string host_name() {
    char buffer[HOST_NAME_MAX + 1] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0 || buffer[0] == '\0') {
        return "localhost";
    }
    return buffer;
}

int create_file(const std::string& path) {
    const int fd = open_file(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    return fd < 0 ? -errno : fd;
}

void close_file(int fd) {
    if (fd >= 0) {
        ::close(fd);
    }
}

int write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

} // namespace runner::platform
