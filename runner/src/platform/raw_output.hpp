// Output for the moments when other threads may hold any lock, or inside a signal handler: the
// process is ending and what it says must still come out. Only write(2), plain reads and a
// stream lock that is tried, never waited for.
#pragma once

#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <string_view>

namespace runner::platform {

// Writes all of `bytes` to `fd`, or as much as the descriptor takes before it fails.
inline void write_fd(int fd, std::string_view bytes) noexcept {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

inline void write_fd(int fd, const char* bytes, std::size_t size) noexcept {
    write_fd(fd, std::string_view(bytes, size));
}

// Writes what C stdio still holds (text a check printed with printf, say), unless another
// thread keeps the stream locked for about 20 ms: it may be stuck, and the report must still
// come out. Not for signal handlers.
inline void flush_if_free(std::FILE* stream) noexcept {
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (ftrylockfile(stream) == 0) {
            fflush_unlocked(stream);
            funlockfile(stream);
            return;
        }
        const timespec pause_for{0, 1'000'000};
        nanosleep(&pause_for, nullptr);
    }
}

} // namespace runner::platform
