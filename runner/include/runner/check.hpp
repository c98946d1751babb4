// What a check body may use: failing (panics), assertions, message formatting, printing into
// the check's captured output, and starting threads that print into the same output.
#pragma once

#include <any>
#include <concepts>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <typeinfo>
#include <utility>

#include "runner/source_location.hpp"
#include "runner/test_desc.hpp"

namespace runner {

// ---- Text forms of values in failure messages -------------------------------------------------

// The shortest decimal that reads back as the same float, written positionally (no exponent),
// without a fractional part for whole values: 100, 0.7853982, 39.999996, -0,
// 100000000000000000000 for 1e20. NaN is "NaN", infinities are "inf" and "-inf".
std::string display(float value);
std::string display(double value);
std::string display(std::string_view text);
inline std::string display(const std::string& text) {
    return display(std::string_view(text));
}
inline std::string display(const char* text) {
    return display(std::string_view(text));
}
inline std::string display(bool value) {
    return value ? "true" : "false";
}
template <std::integral T>
requires(!std::same_as<T, bool>) std::string display(T value) {
    return std::to_string(value);
}

// The text of a value in quoted, escaped form: "a \"b\"\n" for a text.
std::string debug_quoted(std::string_view text);

// Replaces each "{}" of `pattern` by the display of the next argument, in order;
// "{{" and "}}" stand for single braces.
std::string format_pieces(std::string_view pattern, const std::string* pieces, std::size_t count);

template <class... Args>
std::string format(std::string_view pattern, const Args&... args) {
    const std::string pieces[] = {std::string(), display(args)...};
    return format_pieces(pattern, pieces + 1, sizeof...(Args));
}

// ---- Failing ----------------------------------------------------------------------------------

// Where a check failed: a file relative to the repository root, a 1-based line and column.
struct PanicLocation {
    std::string_view file;
    std::uint32_t line = 0;
    std::uint32_t column = 0;

    static PanicLocation from(const SourceLocation& where) {
        return {where.file_name(), where.line(), where.column()};
    }
};

// What a failing check carries to the runner: a message text, or a value of another type.
class PanicPayload {
public:
    static PanicPayload text(std::string message);
    static PanicPayload value(std::any value, std::string type_name);

    bool is_text() const { return is_text_; }
    const std::string& message() const { return message_; } // empty for a non-text payload
    const std::string& type_name() const { return type_name_; }
    const std::any& value() const { return value_; }

private:
    bool is_text_ = true;
    std::string message_;
    std::string type_name_;
    std::any value_;
};

// The exception that carries a failure out of a check. It deliberately does not derive from
// std::exception, so a check's own `catch (const std::exception&)` does not swallow a failure.
class Panic {
public:
    Panic(PanicPayload payload, PanicLocation location)
        : payload_(std::make_shared<PanicPayload>(std::move(payload))), location_(location) {}

    const PanicPayload& payload() const { return *payload_; }
    const PanicLocation& location() const { return location_; }

private:
    std::shared_ptr<const PanicPayload> payload_;
    PanicLocation location_;
};

// Fails the running check: writes the panic report to the thread's output (the check's
// captured output, or standard error when capture is off) and throws a Panic.
[[noreturn]] void panic(std::string message, SourceLocation where = SourceLocation::current());
[[noreturn]] void panic_at(PanicPayload payload, PanicLocation where);

std::string demangled_type_name(const std::type_info& type);

// Fails with a payload that is not a text.
template <class T>
[[noreturn]] void panic_any(T value, SourceLocation where = SourceLocation::current()) {
    std::string type_name = demangled_type_name(typeid(T));
    panic_at(PanicPayload::value(std::any(std::move(value)), std::move(type_name)),
             PanicLocation::from(where));
}

namespace detail {
[[noreturn]] void assert_failed(SourceLocation where, std::string_view condition);
template <class... Args>
[[noreturn]] void assert_failed(SourceLocation where, std::string_view /*condition*/,
                                std::string_view pattern, const Args&... args) {
    panic(format(pattern, args...), where);
}
template <class L, class R>
[[noreturn]] void assert_eq_failed(SourceLocation where, const L& left, const R& right) {
    panic(format("assertion `left == right` failed\n  left: {}\n right: {}", left, right), where);
}
} // namespace detail

// ---- Printing ---------------------------------------------------------------------------------

// Write into the running check's captured output, or to standard output / standard error when
// the thread captures nothing. std::cout, std::cerr and std::clog are routed the same way while
// the runner captures.
void print(std::string_view text);
void eprint(std::string_view text);

// ---- Threads started by a check ---------------------------------------------------------------

// A thread started with `spawn` writes into the captured output of the thread that started it.
class JoinHandle {
public:
    JoinHandle();
    JoinHandle(JoinHandle&&) noexcept;
    JoinHandle& operator=(JoinHandle&&) noexcept;
    JoinHandle(const JoinHandle&) = delete;
    JoinHandle& operator=(const JoinHandle&) = delete;
    ~JoinHandle(); // joins a thread that was not joined

    // Waits for the thread; a failure of the thread fails the joining thread with the same
    // payload (its report was already written where the thread wrote).
    void join();
    bool joinable() const;

    struct State;

private:
    explicit JoinHandle(std::unique_ptr<State> state);
    friend JoinHandle spawn(std::function<void()> body);
    std::unique_ptr<State> state_;
};

JoinHandle spawn(std::function<void()> body);

} // namespace runner

// Fails the check unless `condition` holds. Without a message the failure text is
// "assertion failed: {condition}"; with one, the message is formatted as by runner::format.
// The failure names the file, line and column of the macro, as the compiler places it (see
// runner/source_location.hpp).
#define SARNIVELLE_ASSERT(condition, ...)                                                          \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            ::runner::detail::assert_failed(::runner::SourceLocation::current(),                   \
                                            #condition __VA_OPT__(, ) __VA_ARGS__);                \
        }                                                                                          \
    } while (false)

// Fails the check unless left == right, showing both values.
#define SARNIVELLE_ASSERT_EQ(left, right)                                                          \
    do {                                                                                           \
        const auto& sarnivelle_left_ = (left);                                                     \
        const auto& sarnivelle_right_ = (right);                                                   \
        if (!(sarnivelle_left_ == sarnivelle_right_)) {                                            \
            ::runner::detail::assert_eq_failed(::runner::SourceLocation::current(),                \
                                               sarnivelle_left_, sarnivelle_right_);               \
        }                                                                                          \
    } while (false)

// The comparing assertions: SARNIVELLE_ASSERT_NE, _LT, _LE, _GT, _GE, _NEAR, _ULPS, _THROWS and
// _NO_THROW.
#include "runner/assertions.hpp" // IWYU pragma: export
