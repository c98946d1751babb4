// A position in the source (file, line, column), captured where a check is declared and where
// it fails, in the same form with g++ and with clang.
#pragma once

#include <cstdint>
#if !defined(__clang__)
#include <source_location>
#endif

namespace runner {

// The compilers agree on the file and on the line of a position taken on a single line, but
// not on the column:
//  - g++ places a position taken inside a macro at the first character of the macro's name,
//    and one taken by a default argument at the opening parenthesis of the call;
//  - clang places a position taken inside a macro at the closing parenthesis of the macro's
//    invocation (on its last line, when the invocation spans several), and one taken by a
//    default argument at the first character of the called name.
// `macro_position_at_end` tells the two apart where a declaring macro works out a column of its
// own from the position it receives.
struct SourceLocation {
#if defined(__clang__)
    static constexpr bool macro_position_at_end = true;

    static constexpr SourceLocation current(const char* file = __builtin_FILE(),
                                            unsigned line = __builtin_LINE(),
                                            unsigned column = __builtin_COLUMN()) noexcept {
        return SourceLocation(file, line, column);
    }
#else
    static constexpr bool macro_position_at_end = false;

    static constexpr SourceLocation
    current(std::source_location where = std::source_location::current()) noexcept {
        return SourceLocation(where.file_name(), where.line(), where.column());
    }
#endif

    constexpr SourceLocation() noexcept = default;

    constexpr const char* file_name() const noexcept {
        return file_;
    }
    constexpr std::uint32_t line() const noexcept {
        return line_;
    }
    constexpr std::uint32_t column() const noexcept {
        return column_;
    }

private:
    constexpr SourceLocation(const char* file, std::uint32_t line, std::uint32_t column) noexcept
        : file_(file), line_(line), column_(column) {}

    const char* file_ = "";
    std::uint32_t line_ = 0;
    std::uint32_t column_ = 0;
};

} // namespace runner
