#include "process/fork_server.hpp"
#include "platform/platform.hpp"

#include <poll.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace runner::process {
namespace {

enum class Type : std::uint32_t { Start = 1, Signal, Exited, NotStarted };

// One message; a Start message is followed by the check's name and carries its descriptors.
struct Header {
    Type type = Type::Start;
    std::int32_t value = 0; // Start: measure + 2 * note shown; Signal: the signal; Exited: the wait
                            // status; NotStarted: the error number
    std::uint64_t token = 0;
};

constexpr std::size_t max_message = 64 * 1024;

bool send_message(int socket, const Header& header, std::string_view name = {},
                  const int* fds = nullptr, std::size_t fd_count = 0) {
    iovec parts[2] = {{const_cast<Header*>(&header), sizeof header},
                      {const_cast<char*>(name.data()), name.size()}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = name.empty() ? 1 : 2;
    alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
    if (fd_count > 0) {
        message.msg_control = control;
        message.msg_controllen = CMSG_SPACE(fd_count * sizeof(int));
        cmsghdr* rights = CMSG_FIRSTHDR(&message);
        rights->cmsg_level = SOL_SOCKET;
        rights->cmsg_type = SCM_RIGHTS;
        rights->cmsg_len = CMSG_LEN(fd_count * sizeof(int));
        std::memcpy(CMSG_DATA(rights), fds, fd_count * sizeof(int));
    }
    ssize_t sent = 0;
    do {
        sent = ::sendmsg(socket, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent >= 0;
}

// A message received with the descriptors it carried (at most two).
struct Received {
    ssize_t size = 0; // 0: the other end closed; < 0: nothing (errno)
    Header header;
    std::string_view name;
    int fds[2] = {-1, -1};
};

Received receive(int socket, char* buffer, std::size_t capacity, int flags) {
    Received got;
    iovec part{buffer, capacity};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    do {
        got.size = ::recvmsg(socket, &message, flags | MSG_CMSG_CLOEXEC);
    } while (got.size < 0 && errno == EINTR);
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) {
            const std::size_t count = std::min<std::size_t>(
                (c->cmsg_len - CMSG_LEN(0)) / sizeof(int), std::size(got.fds));
            std::memcpy(got.fds, CMSG_DATA(c), count * sizeof(int));
        }
    }
    if (got.size >= static_cast<ssize_t>(sizeof(Header))) {
        std::memcpy(&got.header, buffer, sizeof(Header));
        got.name = std::string_view(buffer + sizeof(Header),
                                    static_cast<std::size_t>(got.size) - sizeof(Header));
    } else if (got.size > 0) {
        got.size = -1; // too short to be a message
        errno = EBADMSG;
    }
    return got;
}

// Closes those of `fds` that are open, and marks them closed.
void close_fds(int (&fds)[2]) {
    for (int& fd : fds) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

class Server {
public:
    Server(int socket, pid_t runner, const ChildMain& child_main)
        : socket_(socket), runner_(runner), child_main_(child_main) {}

    [[noreturn]] void serve() {
        // The runner alone decides what a signal means; the server ends with it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != runner_) {
            ::_exit(0);
        }
        // Blocked rather than ignored: a signal sent to a child before it has unblocked them
        // waits for it instead of being lost.
        sigset_t blocked;
        sigemptyset(&blocked);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) {
            sigaddset(&blocked, signal);
        }
        sigprocmask(SIG_BLOCK, &blocked, &original_mask_);
        sigset_t child_ended;
        sigemptyset(&child_ended);
        sigaddset(&child_ended, SIGCHLD);
        signal_fd_ = platform::above_standard_streams(
            ::signalfd(-1, &child_ended, SFD_CLOEXEC | SFD_NONBLOCK));
        if (signal_fd_ < 0) {
            ::_exit(1);
        }
        buffer_.resize(max_message);
        for (;;) {
            // A spare is made when nothing else waits: a signal or a request already sent is
            // handled first.
            pollfd fds[2] = {{socket_, POLLIN, 0}, {signal_fd_, POLLIN, 0}};
            const int ready = ::poll(fds, 2, spare_wanted_ ? 0 : -1);
            if (ready == 0) {
                spare_wanted_ = false;
                make_spare();
                continue;
            }
            if (ready < 0) {
                continue; // EINTR
            }
            if (fds[1].revents != 0) {
                signalfd_siginfo info;
                while (::read(signal_fd_, &info, sizeof info) > 0) {
                }
                reap();
            }
            if (fds[0].revents != 0) {
                Received got = receive(socket_, buffer_.data(), buffer_.size(), MSG_DONTWAIT);
                if (got.size == 0 || (got.size < 0 && errno != EAGAIN && errno != EBADMSG)) {
                    end();
                }
                if (got.size > 0) {
                    handle(got);
                }
                close_fds(got.fds); // those a held request keeps are no longer in `got`
            }
        }
    }

private:
    void handle(Received& got) {
        if (got.header.type == Type::Signal) {
            const auto live = find(got.header.token);
            if (live != children_.end()) {
                ::kill(-live->second, got.header.value);
            } else {
                end_held(got.header.token, got.header.value);
            }
            return;
        }
        if (got.header.type != Type::Start || got.fds[0] < 0) {
            return;
        }
        // The spare takes the request, with the check's descriptors, as the server got it,
        // unless earlier requests still wait: requests start in the order they came.
        if (held_.empty() && spare_.pid > 0 &&
            send_message(spare_.socket, got.header, got.name, got.fds, got.fds[1] >= 0 ? 2 : 1)) {
            children_.emplace_back(got.header.token, spare_.pid);
            forget_spare();
            spare_wanted_ = true;
            return;
        }
        drop_spare();
        held_.push_back(Held{got.header, std::string(got.name), {got.fds[0], got.fds[1]}});
        got.fds[0] = got.fds[1] = -1;
        start_held();
    }

    // Forks the child of a request; 0, or the error number when the fork failed.
    int fork_child(const Header& header, std::string_view name, const int (&fds)[2]) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            enter_own_group();
            run_child(header, name, fds);
        }
        if (pid < 0) {
            return errno;
        }
        // Also set by the child: whichever runs first, the group exists before a signal
        // is sent to it.
        ::setpgid(pid, pid);
        children_.emplace_back(header.token, pid);
        return 0;
    }

    // The requests without a process, first come first. A fork that fails for want of a
    // process (a process limit, EAGAIN) while checks' processes run leaves the request to wait
    // for one of them to end; only a fork that fails with none running reports it as not
    // started. No spare is made while a request waits: it would take the place it waits for.
    void start_held() {
        while (!held_.empty()) {
            Held& first = held_.front();
            const int error = fork_child(first.header, first.name, first.fds);
            if (error == EAGAIN && !children_.empty()) {
                break;
            }
            if (error != 0) {
                send_message(socket_, Header{Type::NotStarted, error, first.header.token});
            }
            close_fds(first.fds);
            held_.erase(held_.begin());
        }
        spare_wanted_ = held_.empty() && spare_.pid < 0;
    }

    // A signal for a request still held: it never starts, and ends as if the signal had
    // ended its process.
    void end_held(std::uint64_t token, int signal) {
        const auto held = std::find_if(held_.begin(), held_.end(),
                                       [token](const Held& h) { return h.header.token == token; });
        if (held == held_.end()) {
            return;
        }
        close_fds(held->fds);
        held_.erase(held);
        send_message(socket_, Header{Type::Exited, signal, token});
    }

    struct Held {
        Header header;
        std::string name;
        int fds[2];
    };

    // Forks a child ahead of the next request (none when the fork fails: the next request
    // then forks its own). It waits on a socket of its own for the request; the fork, and all
    // a new process costs before it runs anything, happen while other checks run.
    void make_spare() {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
            return;
        }
        const pid_t server = ::getpid();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(pair[0]);
            enter_own_group();
            if (::getppid() != server) {
                ::_exit(0);
            }
            // The server's own buffer, of which only what arrives is written: each page a new
            // process writes costs it a fault.
            const Received got = receive(pair[1], buffer_.data(), buffer_.size(), 0);
            if (got.size <= 0 || got.header.type != Type::Start || got.fds[0] < 0) {
                ::_exit(0); // the server has ended, or dropped this spare
            }
            ::close(pair[1]);
            run_child(got.header, got.name, got.fds);
        }
        ::close(pair[1]);
        if (pid < 0) {
            ::close(pair[0]);
            return;
        }
        ::setpgid(pid, pid);
        spare_ = Spare{pid, pair[0]};
    }

    // Ends the spare, if there is one, and waits for it: the fork that follows may need its
    // place under a process limit.
    void drop_spare() {
        if (spare_.pid > 0) {
            const pid_t pid = spare_.pid;
            ::kill(-pid, SIGKILL);
            forget_spare();
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
    }

    // The spare is no longer the server's to hand a request to.
    void forget_spare() {
        ::close(spare_.socket);
        spare_ = {};
    }

    // The first steps of every child: a process group of its own, and an end with the server.
    void enter_own_group() {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::close(socket_);
        ::close(signal_fd_);
    }

    [[noreturn]] void run_child(const Header& header, std::string_view name, const int (&fds)[2]) {
        sigprocmask(SIG_SETMASK, &original_mask_, nullptr);
        if (fds[1] >= 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::dup2(fds[1], STDERR_FILENO);
            ::close(fds[1]);
        }
        child_main_(ChildRequest{name, (header.value & 1) != 0, (header.value & 2) != 0, fds[0]});
        ::_exit(0);
    }

    void reap() {
        int status = 0;
        pid_t pid = 0;
        bool ended_any = false;
        while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) {
            ended_any = true;
            // Whatever the check started ends with it.
            ::kill(-pid, SIGKILL);
            const auto ended =
                std::find_if(children_.begin(), children_.end(),
                             [pid](const auto& child) { return child.second == pid; });
            if (ended != children_.end()) {
                send_message(socket_, Header{Type::Exited, status, ended->first});
                children_.erase(ended);
            } else if (pid == spare_.pid) {
                forget_spare();
            }
        }
        if (ended_any) {
            start_held();
        }
    }

    [[noreturn]] void end() {
        if (spare_.pid > 0) {
            children_.emplace_back(0, spare_.pid);
        }
        for (const auto& child : children_) {
            ::kill(-child.second, SIGKILL);
        }
        for (const auto& child : children_) {
            while (::waitpid(child.second, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        ::_exit(0);
    }

    std::vector<std::pair<std::uint64_t, pid_t>>::iterator find(std::uint64_t token) {
        return std::find_if(children_.begin(), children_.end(),
                            [token](const auto& child) { return child.first == token; });
    }

    int socket_;
    pid_t runner_;
    const ChildMain& child_main_;
    int signal_fd_ = -1;
    sigset_t original_mask_{};
    std::vector<std::pair<std::uint64_t, pid_t>> children_; // token, process
    std::vector<Held> held_;   // requests without a process yet, in arrival order
    std::vector<char> buffer_; // what a message is received into
    struct Spare {
        pid_t pid = -1;
        int socket = -1; // the server's end of the spare's socket
    } spare_;
    bool spare_wanted_ = true; // make one when idle; not again after a failed fork until a
                               // request has come or a child has ended
};

} // namespace

std::unique_ptr<ForkServer> ForkServer::start(ChildMain child_main) {
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0) {
        throw std::system_error(errno, std::generic_category(), "socketpair");
    }
    sockets[0] = platform::above_standard_streams(sockets[0]);
    sockets[1] = platform::above_standard_streams(sockets[1]);
    if (sockets[0] < 0 || sockets[1] < 0) {
        const int error = errno;
        ::close(sockets[0]);
        ::close(sockets[1]);
        throw std::system_error(error, std::generic_category(), "socketpair");
    }
    const pid_t runner = ::getpid();
    // Nothing buffered may be written twice, by the runner and by a child.
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        const int error = errno;
        ::close(sockets[0]);
        ::close(sockets[1]);
        throw std::system_error(error, std::generic_category(), "fork");
    }
    if (pid == 0) {
        ::close(sockets[0]);
        Server(sockets[1], runner, child_main).serve();
    }
    ::close(sockets[1]);
    return std::unique_ptr<ForkServer>(new ForkServer(sockets[0], pid));
}

ForkServer::~ForkServer() {
    ::close(socket_);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
}

bool ForkServer::start_child(std::uint64_t token, const ChildRequest& request, int output_fd) {
    std::string_view name = request.name;
    if (name.size() + sizeof(Header) > max_message) {
        name = name.substr(0, max_message - sizeof(Header));
    }
    const int fds[2] = {request.result_fd, output_fd};
    const int flags = (request.measure ? 1 : 0) | (request.note_shown ? 2 : 0);
    return send_message(socket_, Header{Type::Start, flags, token}, name, fds,
                        output_fd >= 0 ? 2 : 1);
}

bool ForkServer::signal_child(std::uint64_t token, int signal) {
    return send_message(socket_, Header{Type::Signal, signal, token});
}

std::optional<ForkServer::Event> ForkServer::read_event() {
    char buffer[sizeof(Header)];
    Received got = receive(socket_, buffer, sizeof buffer, MSG_DONTWAIT);
    close_fds(got.fds);
    if (got.size == 0 || (got.size < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
        return Event{Event::Kind::ServerGone, 0, 0};
    }
    if (got.size < 0) {
        return std::nullopt;
    }
    const Event::Kind kind =
        got.header.type == Type::NotStarted ? Event::Kind::NotStarted : Event::Kind::Exited;
    return Event{kind, got.header.token, got.header.value};
}

} // namespace runner::process
