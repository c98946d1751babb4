// Failing a check: the panic report and the exception that carries the failure.
#include <atomic>
#include <cstdlib>
#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <memory>
#include <string>

#include "check/failure.hpp"
#include "check/thread_context.hpp"
#include "platform/environment.hpp"
#include "runner/check.hpp"

namespace runner {
namespace {

std::atomic<bool> first_panic{true};

bool backtrace_enabled() {
    return platform::process_env_flag(platform::env_variable("SARNIVELLE_BACKTRACE"));
}

// The frames of the calling thread, innermost first, with demangled names where the
// executable exports them.
std::string stack_backtrace() {
    void* frames[64];
    const int count = ::backtrace(frames, 64);
    std::string out = "stack backtrace:\n";
    int shown = 0;
    for (int i = 0; i < count; ++i) {
        Dl_info info{};
        std::string name = "<unknown>";
        if (::dladdr(frames[i], &info) != 0 && info.dli_sname != nullptr) {
            int status = 0;
            std::unique_ptr<char, decltype(&std::free)> demangled(
                abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status), &std::free);
            name = status == 0 && demangled ? demangled.get() : info.dli_sname;
        }
        // The frames of the failure machinery itself tell the reader nothing.
        if (shown == 0 && (name.find("runner::panic") != std::string::npos ||
                           name.find("runner::detail::assert") != std::string::npos ||
                           (name.find("runner::detail::") != std::string::npos &&
                            name.find("_failed(") != std::string::npos) ||
                           name.find("stack_backtrace") != std::string::npos ||
                           name.find("write_panic_report") != std::string::npos)) {
            continue;
        }
        char index[32];
        std::snprintf(index, sizeof index, "%4d: ", shown++);
        out += index;
        out += name;
        if (info.dli_fname != nullptr) {
            // The offset into the file lets addr2line find functions that are not exported.
            char offset[48];
            std::snprintf(offset, sizeof offset, " (+0x%lx)",
                          static_cast<unsigned long>(static_cast<char*>(frames[i]) -
                                                     static_cast<char*>(info.dli_fbase)));
            out += "\n             in ";
            out += info.dli_fname;
            out += offset;
        }
        out += '\n';
    }
    return out;
}

void write_panic_report(const PanicPayload& payload, const PanicLocation& where) {
    const detail::ThreadContext& thread = detail::this_thread();
    std::string report = "\nthread '" + std::string(thread.name) + "' (" +
                         std::to_string(thread.id) + ") panicked at " + std::string(where.file) +
                         ":" + std::to_string(where.line) + ":" + std::to_string(where.column) +
                         ":\n";
    report += payload.is_text() ? payload.message()
                                : "non-text panic payload of type `" + payload.type_name() + "`";
    report += '\n';
    if (backtrace_enabled()) {
        report += stack_backtrace();
    } else if (first_panic.exchange(false)) {
        report += "note: run with `SARNIVELLE_BACKTRACE=1` environment variable to display a "
                  "backtrace\n";
    }
    eprint(report);
}

} // namespace

namespace detail {

bool backtrace_note_pending() {
    return first_panic.load();
}

void set_backtrace_note_pending(bool pending) {
    first_panic.store(pending);
}

} // namespace detail

PanicPayload PanicPayload::text(std::string message) {
    PanicPayload payload;
    payload.is_text_ = true;
    payload.message_ = std::move(message);
    payload.type_name_ = "std::string";
    return payload;
}

PanicPayload PanicPayload::value(std::any value, std::string type_name) {
    PanicPayload payload;
    payload.is_text_ = false;
    payload.type_name_ = std::move(type_name);
    payload.value_ = std::move(value);
    return payload;
}

std::string demangled_type_name(const std::type_info& type) {
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), &std::free);
    return status == 0 && demangled ? std::string(demangled.get()) : std::string(type.name());
}

void panic_at(PanicPayload payload, PanicLocation where) {
    write_panic_report(payload, where);
    throw Panic(std::move(payload), where);
}

void panic(std::string message, SourceLocation where) {
    panic_at(PanicPayload::text(std::move(message)), PanicLocation::from(where));
}

namespace detail {
void assert_failed(SourceLocation where, std::string_view condition) {
    panic("assertion failed: " + std::string(condition), where);
}
} // namespace detail

} // namespace runner
