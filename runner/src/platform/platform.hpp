// What the runner needs of the operating system.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace runner::platform {

// Processors available to this process (affinity mask), or nothing when unknown.
std::optional<std::size_t> available_parallelism();

bool stdout_is_terminal();

// The machine's name, or "localhost" when it has none.
std::string host_name();

// Files the runner opens never take descriptors 0 to 2: with a standard stream closed, a file
// opened on its number would receive what is meant for that stream.

// `fd`, or a close-on-exec copy of it above standard error (`fd` is then closed); -1 with errno
// set when the copy fails. Every descriptor the runner makes goes through here.
int above_standard_streams(int fd);

// Creates or truncates a file for writing; its descriptor, or minus the error number.
int create_file(const std::string& path);
void close_file(int fd);
// Writes all of `bytes`; 0, or the error number.
int write_all(int fd, std::string_view bytes);

// Documents written whole. A path that is a regular file or names none (also through symbolic
// links, which stay: their final target is written) is replaced only by a complete document,
// so it holds the earlier content, nothing, or the whole new one: the bytes go to a new file in
// the same directory, which is flushed and then renamed onto the path; other names of the
// earlier file keep its content. Anything else at the path (a device, a FIFO, a link the kernel
// makes such as /dev/stdout) is opened, truncated and written through.

// Whether a document could be written at `path` later, without touching what stands there
// now: 0, or the error number.
int check_writable(const std::string& path);
// Writes `bytes` as the document at `path`; 0, or the error number (nothing is left behind).
int write_file_whole(const std::string& path, std::string_view bytes);
// Removes a regular file that stands at `path` itself (not one a link points to); 0, or the
// error number. Nothing there is not an error.
int remove_regular_file(const std::string& path);
// Whether two paths name the same regular file, or the same file yet to be created.
// Devices and FIFOs, which are written through, are never the same file.
bool same_document(const std::string& a, const std::string& b);

// A file the runner made and removes again, known by its device and inode. The file stays open
// until then, so that its inode cannot be freed and given to another file at the same path.
struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    int fd = -1;
};
// Creates an empty file where nothing stands (not even a dangling link); the file's identity,
// or the error number (EEXIST when something stands there).
std::variant<FileId, int> create_new_file(const std::string& path);
// Removes the file at `path` if it is still the file `id`, and closes `id`; 0 when it was
// removed or is no longer that file (then it is left alone), else the error number of the
// failed removal.
int remove_if_same(const std::string& path, FileId& id);

} // namespace runner::platform
