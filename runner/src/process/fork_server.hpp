// The fork server: a small process that the runner forks at start-up, while it still has a
// single thread, and that forks one child per check on request. A child starts as a copy of the
// runner before its first thread, so it may use everything the runner had set up then; it runs
// in a process group of its own, which the server kills as soon as the child has ended, so
// nothing a check starts outlives it. When the runner ends, however it ends, the server kills
// the children that still run and ends too.
//
// Neither the server nor its children run static destructors or flush what the runner's stdio
// held when the server was made: they end with _exit.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

namespace runner::process {

// What a child is asked to run.
struct ChildRequest {
    std::string_view name;   // the check's name
    bool measure = false;    // a benchmark measured with --bench
    bool note_shown = false; // the run has shown its note on how to see a backtrace
    int result_fd = -1;      // where the child writes its result
};

// The body of a child; it ends the child itself (the server ends it with status 0 otherwise).
using ChildMain = std::function<void(const ChildRequest&)>;

class ForkServer {
public:
    struct Event {
        enum class Kind {
            Exited,     // the child ended; `status` is its wait status
            NotStarted, // the server could not fork; `status` is the error number
            ServerGone, // the server has ended: no more events will come
        };
        Kind kind = Kind::Exited;
        std::uint64_t token = 0;
        int status = 0;
    };

    // Forks the server. The calling process must have one thread. Throws std::system_error.
    static std::unique_ptr<ForkServer> start(ChildMain child_main);
    // Ends the server and waits for it; the children still running are killed.
    ~ForkServer();
    ForkServer(const ForkServer&) = delete;
    ForkServer& operator=(const ForkServer&) = delete;

    // Readable when an event has arrived.
    int fd() const { return socket_; }
    // Asks for a child named by `token` that runs `request` and writes its standard output and
    // error to `output_fd` (-1: the runner's own).
    // False when the server is gone.
    bool start_child(std::uint64_t token, const ChildRequest& request, int output_fd);
    // Sends `signal` to the process group of child `token`, unless it has already ended.
    bool signal_child(std::uint64_t token, int signal);
    // The next event, without waiting; nothing when none has arrived.
    std::optional<Event> read_event();

private:
    ForkServer(int socket, pid_t pid) : socket_(socket), pid_(pid) {}

    int socket_ = -1;
    pid_t pid_ = -1;
};

} // namespace runner::process
