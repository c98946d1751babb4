// Fuzz builds use clang, whose version on the build machines lacks the builtin that the
// standard library's std::source_location is made from. This stand-in, force-included into
// fuzz builds only, provides the same interface from the older per-field builtins; with a
// compiler that has the real one it adds nothing.
#pragma once

#include <version>

#if !defined(__cpp_lib_source_location)
#include <cstdint>

namespace std {

struct source_location {
    static constexpr source_location current(const char* file = __builtin_FILE(),
                                             const char* function = __builtin_FUNCTION(),
                                             uint_least32_t line = __builtin_LINE(),
                                             uint_least32_t column = __builtin_COLUMN()) noexcept {
        source_location where;
        where.file_ = file;
        where.function_ = function;
        where.line_ = line;
        where.column_ = column;
        return where;
    }

    constexpr source_location() noexcept = default;
    constexpr const char* file_name() const noexcept { return file_; }
    constexpr const char* function_name() const noexcept { return function_; }
    constexpr uint_least32_t line() const noexcept { return line_; }
    constexpr uint_least32_t column() const noexcept { return column_; }

private:
    const char* file_ = "";
    const char* function_ = "";
    uint_least32_t line_ = 0;
    uint_least32_t column_ = 0;
};

} // namespace std
#endif
