// What the runner needs of the operating system.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace runner::platform {

// Processors available to this process (affinity mask), or nothing when unknown.
std::optional<std::size_t> available_parallelism();

bool stdout_is_terminal();

// The machine's name, or "localhost" when it has none.
std::string host_name();

// Files the runner opens never take descriptors 0 to 2: with a standard stream closed, a file
// opened on its number would receive what is meant for that stream.

// Creates or truncates a file for writing; its descriptor, or minus the error number.
int create_file(const std::string& path);
void close_file(int fd);
// Writes all of `bytes`; 0, or the error number.
int write_all(int fd, std::string_view bytes);

} // namespace runner::platform
