#include "platform/platform.hpp"

#include <algorithm>
#include <atomic>
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
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <vector>

namespace runner::platform {

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

namespace {

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

// ---- Documents written whole ----

constexpr long proc_super_magic = 0x9fa0;
constexpr int max_link_hops = 40;

std::string directory_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int stat_errno(const std::string& path, struct stat& info, bool follow) {
    const int result = follow ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
    return result == 0 ? 0 : errno;
}

// What a document's path leads to once its symbolic links are followed.
struct Destination {
    enum Kind { Missing, Regular, WriteThrough, Error } kind = Error;
    std::string path; // the final target, for Missing and Regular
    struct stat info {};
    int error = 0;
};

Destination resolve(const std::string& path) {
    Destination found;
    std::string current = path;
    for (int hop = 0; hop < max_link_hops; ++hop) {
        const int error = stat_errno(current, found.info, false);
        if (error == ENOENT) {
            found.kind = Destination::Missing;
            found.path = current;
            return found;
        }
        if (error != 0) {
            found.error = error;
            return found;
        }
        if (S_ISREG(found.info.st_mode)) {
            found.kind = Destination::Regular;
            found.path = current;
            return found;
        }
        struct statfs volume {};
        if (!S_ISLNK(found.info.st_mode) ||
            (::statfs(directory_of(current).c_str(), &volume) == 0 &&
             volume.f_type == proc_super_magic)) {
            // A device, a FIFO, or a link the kernel makes to an open file: written through.
            if (const int through = stat_errno(path, found.info, true); through != 0) {
                found.error = through;
                return found;
            }
            found.kind =
                S_ISDIR(found.info.st_mode) ? Destination::Error : Destination::WriteThrough;
            found.error = S_ISDIR(found.info.st_mode) ? EISDIR : 0;
            return found;
        }
        std::string target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
        if (length < 0 || static_cast<std::size_t>(length) >= target.size()) {
            found.error = length < 0 ? errno : ENAMETOOLONG;
            return found;
        }
        target.resize(static_cast<std::size_t>(length));
        if (!target.starts_with('/') && current.find('/') != std::string::npos) {
            target = directory_of(current) + "/" + target;
        }
        current = std::move(target);
    }
    found.error = ELOOP;
    return found;
}

int writable_directory(const std::string& file) {
    return ::faccessat(AT_FDCWD, directory_of(file).c_str(), W_OK | X_OK, AT_EACCESS) == 0 ? 0
                                                                                           : errno;
}

int write_through(const std::string& path, std::string_view bytes) {
    const int fd = open_file(path.c_str(), O_WRONLY | O_TRUNC);
    if (fd < 0) {
        return errno;
    }
    int error = write_all(fd, bytes);
    if (::close(fd) != 0 && error == 0 && errno != EINTR) {
        error = errno;
    }
    return error;
}

// Writes a new file beside `target` and renames it onto `target`.
int replace(const Destination& target, std::string_view bytes) {
    // Hidden, and short enough for any name the path itself may have.
    const std::string prefix = directory_of(target.path) + "/." +
                               name_of(target.path).substr(0, 200) + "." +
                               std::to_string(::getpid());
    static std::atomic<unsigned> attempt{0};
    std::string temporary;
    int fd = -1;
    for (int tries = 0; tries < 100 && fd < 0; ++tries) {
        temporary = prefix + "." + std::to_string(attempt++) + ".tmp";
        fd = open_file(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
        if (fd < 0 && errno != EEXIST) {
            return errno;
        }
    }
    if (fd < 0) {
        return EEXIST;
    }
    int error = 0;
    // The new document keeps the permissions of the one it replaces.
    if (target.kind == Destination::Regular && ::fchmod(fd, target.info.st_mode & 07777) != 0) {
        error = errno;
    }
    if (error == 0) {
        error = write_all(fd, bytes);
    }
    if (error == 0 && ::fsync(fd) != 0 && errno != EINVAL) {
        error = errno;
    }
    if (::close(fd) != 0 && error == 0 && errno != EINTR) {
        error = errno;
    }
    if (error == 0 && ::rename(temporary.c_str(), target.path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temporary.c_str());
    }
    return error;
}

} // namespace

int check_writable(const std::string& path) {
    const Destination found = resolve(path);
    switch (found.kind) {
    case Destination::Missing:
    case Destination::Regular:
        return writable_directory(found.path);
    case Destination::WriteThrough:
        return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0 ? 0 : errno;
    case Destination::Error:
        break;
    }
    return found.error;
}

int write_file_whole(const std::string& path, std::string_view bytes) {
    const Destination found = resolve(path);
    switch (found.kind) {
    case Destination::Missing:
    case Destination::Regular:
        return replace(found, bytes);
    case Destination::WriteThrough:
        return write_through(path, bytes);
    case Destination::Error:
        break;
    }
    return found.error;
}

int remove_regular_file(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return 0;
    }
    return ::unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
}

bool same_document(const std::string& a, const std::string& b) {
    const Destination first = resolve(a);
    const Destination second = resolve(b);
    if (first.kind != second.kind) {
        return false;
    }
    const auto same_inode = [](const struct stat& x, const struct stat& y) {
        return x.st_dev == y.st_dev && x.st_ino == y.st_ino;
    };
    if (first.kind == Destination::Regular) {
        return same_inode(first.info, second.info);
    }
    if (first.kind != Destination::Missing || name_of(first.path) != name_of(second.path)) {
        return false;
    }
    struct stat x {};
    struct stat y {};
    return stat_errno(directory_of(first.path), x, true) == 0 &&
           stat_errno(directory_of(second.path), y, true) == 0 && same_inode(x, y);
}

std::variant<FileId, int> create_new_file(const std::string& path) {
    const int fd = open_file(path.c_str(), O_RDONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0) {
        return errno;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::unlink(path.c_str());
        ::close(fd);
        return error;
    }
    return FileId{info.st_dev, info.st_ino, fd};
}

int remove_if_same(const std::string& path, FileId& id) {
    struct stat info {};
    int error = 0;
    if (::lstat(path.c_str(), &info) == 0 && info.st_dev == id.device && info.st_ino == id.inode &&
        ::unlink(path.c_str()) != 0 && errno != ENOENT) {
        error = errno;
    }
    close_file(id.fd);
    id.fd = -1;
    return error;
}

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
