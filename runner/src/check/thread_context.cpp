#include "check/thread_context.hpp"

#include <atomic>
#include <cstdio>
#include <iostream>
#include <streambuf>

#include "runner/check.hpp"

namespace runner::detail {
namespace {

std::atomic<std::uint64_t> next_thread_id{1};

// The calling thread's context. A plain pointer: a thread-local object with a destructor would
// have the C library allocate on the thread's first use of it, and that allocation may not fail
// without ending the process. Threads the runner starts point it at a context on their own
// stack; any other thread gets the object below on first use.
thread_local ThreadContext* current = nullptr;

ThreadContext& other_thread_context() {
    thread_local ThreadContext context;
    return context;
}

// An unbuffered stream buffer that sends each write to the writing thread's capture, or to the
// stream buffer it replaced when that thread captures nothing. Having no buffer of its own, it
// keeps no state that threads could share.
class RoutingStreambuf : public std::streambuf {
public:
    void attach(std::streambuf* original) { original_ = original; }
    std::streambuf* original() const { return original_; }

protected:
    int_type overflow(int_type ch) override {
        if (traits_type::eq_int_type(ch, traits_type::eof())) {
            return traits_type::not_eof(ch);
        }
        const char c = traits_type::to_char_type(ch);
        return xsputn(&c, 1) == 1 ? ch : traits_type::eof();
    }

    std::streamsize xsputn(const char* s, std::streamsize n) override {
        if (auto& capture = this_thread().capture) {
            capture->append(std::string_view(s, static_cast<std::size_t>(n)));
            return n;
        }
        return original_->sputn(s, n);
    }

    int sync() override { return this_thread().capture ? 0 : original_->pubsync(); }

private:
    std::streambuf* original_ = nullptr;
};

// Never destroyed: the standard streams may be flushed at exit after static objects are gone,
// and a run that abandoned running checks ends with their routing still in place.
RoutingStreambuf& cout_router = *new RoutingStreambuf;
RoutingStreambuf& cerr_router = *new RoutingStreambuf;
RoutingStreambuf& clog_router = *new RoutingStreambuf;
bool installed = false;

void write_all(std::FILE* stream, std::string_view bytes) {
    if (!bytes.empty()) {
        std::fwrite(bytes.data(), 1, bytes.size(), stream);
    }
}

} // namespace

void OutputCapture::append(std::string_view bytes) {
    const std::lock_guard lock(mutex_);
    bytes_.append(bytes);
}

std::string OutputCapture::contents() const {
    const std::lock_guard lock(mutex_);
    return bytes_;
}

std::string OutputCapture::take() {
    const std::lock_guard lock(mutex_);
    std::string bytes = std::move(bytes_);
    bytes_.clear();
    return bytes;
}

ThreadContext& this_thread() {
    if (current == nullptr) {
        current = &other_thread_context();
    }
    ThreadContext& context = *current;
    if (context.id == 0) {
        context.id = next_thread_id.fetch_add(1, std::memory_order_relaxed);
    }
    return context;
}

OwnThreadContext::OwnThreadContext() noexcept : previous_(current) {
    current = &context_;
}

OwnThreadContext::~OwnThreadContext() {
    current = previous_;
}

void enter_thread(std::string_view name, std::shared_ptr<OutputCapture> capture) {
    ThreadContext& context = this_thread();
    context.name = name;
    context.capture = std::move(capture);
}

void install_stream_capture() {
    if (installed) {
        return;
    }
    std::cout.flush();
    cout_router.attach(std::cout.rdbuf(&cout_router));
    cerr_router.attach(std::cerr.rdbuf(&cerr_router));
    clog_router.attach(std::clog.rdbuf(&clog_router));
    installed = true;
}

void remove_stream_capture() {
    if (!installed) {
        return;
    }
    std::cout.rdbuf(cout_router.original());
    std::cerr.rdbuf(cerr_router.original());
    std::clog.rdbuf(clog_router.original());
    installed = false;
}

void write_stdout(std::string_view bytes) {
    write_all(stdout, bytes);
}

void write_stderr(std::string_view bytes) {
    write_all(stderr, bytes);
    std::fflush(stderr);
}

} // namespace runner::detail

namespace runner {

void print(std::string_view text) {
    if (auto& capture = detail::this_thread().capture) {
        capture->append(text);
    } else {
        detail::write_stdout(text);
    }
}

void eprint(std::string_view text) {
    if (auto& capture = detail::this_thread().capture) {
        capture->append(text);
    } else {
        detail::write_stderr(text);
    }
}

} // namespace runner
