// The comparing assertions of a check body. Each fails the check with a text that shows the
// assertion as written, both values and the position of the call, then an optional message
// formatted as by runner::format:
//
//     SARNIVELLE_ASSERT_LT(z, limit, "at cell ({}, {})", cx, cy);
//
//     assertion `z < limit` failed: at cell (3, 4)
//       left: 62.5
//      right: 62
//
// Texts are shown quoted and escaped; values of a type without a text form as "<unprintable>".
#pragma once

#include <cmath>
#include <concepts>
#include <cstdint>
#include <exception>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <utility>

#include "runner/check.hpp"

namespace runner::detail {

// The optional message of an assertion: empty without arguments.
inline std::string optional_message() {
    return {};
}
template <class... Args>
std::string optional_message(std::string_view pattern, const Args&... args) {
    return format(pattern, args...);
}

template <class T>
std::string operand_text(const T& value) {
    if constexpr (std::is_convertible_v<const T&, std::string_view>) {
        return debug_quoted(std::string_view(value));
    } else if constexpr (std::is_enum_v<T>) {
        return display(static_cast<std::underlying_type_t<T>>(value));
    } else if constexpr (requires { display(value); }) {
        return display(value);
    } else if constexpr (requires(std::ostream & out) { out << value; }) {
        std::ostringstream out;
        out << value;
        return out.str();
    } else {
        return "<unprintable>";
    }
}

template <class T>
concept plain_integer = std::integral<T> && !std::same_as<T, bool> && !std::same_as<T, char> &&
                        !std::same_as<T, wchar_t> && !std::same_as<T, char8_t> &&
                        !std::same_as<T, char16_t> && !std::same_as<T, char32_t>;

enum class Relation { Ne, Lt, Le, Gt, Ge };

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wfloat-equal"
// Integers of different signedness compare by value (-1 < 0u holds).
template <class L, class R>
bool holds(Relation relation, const L& left, const R& right) {
    if constexpr (plain_integer<L> && plain_integer<R>) {
        switch (relation) {
        case Relation::Ne:
            return std::cmp_not_equal(left, right);
        case Relation::Lt:
            return std::cmp_less(left, right);
        case Relation::Le:
            return std::cmp_less_equal(left, right);
        case Relation::Gt:
            return std::cmp_greater(left, right);
        case Relation::Ge:
            return std::cmp_greater_equal(left, right);
        }
        return false;
    } else {
        switch (relation) {
        case Relation::Ne:
            return left != right;
        case Relation::Lt:
            return left < right;
        case Relation::Le:
            return left <= right;
        case Relation::Gt:
            return left > right;
        case Relation::Ge:
            return left >= right;
        }
        return false;
    }
}
#pragma GCC diagnostic pop

struct Comparison {
    std::string_view left_text;
    std::string_view right_text;
    std::string left_value;
    std::string right_value;
};

[[noreturn]] void relation_failed(SourceLocation where, Relation relation,
                                  const Comparison& comparison, const std::string& message);

// |left - right| < tolerance, computed in the common floating type; NaN never passes.
template <class L, class R, class T>
requires std::floating_point<std::common_type_t<L, R, T>>
bool near(const L& left, const R& right, const T& tolerance,
          std::common_type_t<L, R, T>& difference) {
    using F = std::common_type_t<L, R, T>;
    difference = std::fabs(static_cast<F>(left) - static_cast<F>(right));
    return difference < static_cast<F>(tolerance);
}

[[noreturn]] void near_failed(SourceLocation where, const Comparison& comparison,
                              std::string_view tolerance_text, const std::string& difference,
                              const std::string& tolerance, const std::string& message);

// The distance in units in the last place: how many representable values lie from one to the
// other, counting -0 and +0 as one value; nothing for a NaN.
std::optional<std::uint64_t> ulps_between(float left, float right);
std::optional<std::uint64_t> ulps_between(double left, double right);

[[noreturn]] void ulps_failed(SourceLocation where, const Comparison& comparison,
                              std::string_view max_text, std::optional<std::uint64_t> distance,
                              std::uint64_t max_ulps, const std::string& message);

// What a failed THROWS or NO_THROW saw: nothing, or an exception of this type with this
// explanation (the what() of a std::exception).
struct Thrown {
    std::string type;
    std::optional<std::string> what;
};
Thrown thrown_now(); // inside a catch block: the exception being handled

[[noreturn]] void throws_failed(SourceLocation where, std::string_view expression_text,
                                std::string_view type_text, const std::optional<Thrown>& thrown,
                                const std::string& message);
[[noreturn]] void no_throw_failed(SourceLocation where, std::string_view expression_text,
                                  const Thrown& thrown, const std::string& message);

} // namespace runner::detail

#define SARNIVELLE_DETAIL_ASSERT_RELATION(relation, left, right, ...)                              \
    do {                                                                                           \
        const auto& sarnivelle_left_ = (left);                                                     \
        const auto& sarnivelle_right_ = (right);                                                   \
        if (!::runner::detail::holds(::runner::detail::Relation::relation, sarnivelle_left_,       \
                                     sarnivelle_right_)) {                                         \
            ::runner::detail::relation_failed(                                                     \
                ::runner::SourceLocation::current(), ::runner::detail::Relation::relation,         \
                {#left, #right, ::runner::detail::operand_text(sarnivelle_left_),                  \
                 ::runner::detail::operand_text(sarnivelle_right_)},                               \
                ::runner::detail::optional_message(__VA_ARGS__));                                  \
        }                                                                                          \
    } while (false)

// Fails the check unless left != right (and likewise <, <=, >, >=). Integers of different
// signedness compare by value.
#define SARNIVELLE_ASSERT_NE(left, right, ...)                                                     \
    SARNIVELLE_DETAIL_ASSERT_RELATION(Ne, left, right __VA_OPT__(, ) __VA_ARGS__)
#define SARNIVELLE_ASSERT_LT(left, right, ...)                                                     \
    SARNIVELLE_DETAIL_ASSERT_RELATION(Lt, left, right __VA_OPT__(, ) __VA_ARGS__)
#define SARNIVELLE_ASSERT_LE(left, right, ...)                                                     \
    SARNIVELLE_DETAIL_ASSERT_RELATION(Le, left, right __VA_OPT__(, ) __VA_ARGS__)
#define SARNIVELLE_ASSERT_GT(left, right, ...)                                                     \
    SARNIVELLE_DETAIL_ASSERT_RELATION(Gt, left, right __VA_OPT__(, ) __VA_ARGS__)
#define SARNIVELLE_ASSERT_GE(left, right, ...)                                                     \
    SARNIVELLE_DETAIL_ASSERT_RELATION(Ge, left, right __VA_OPT__(, ) __VA_ARGS__)

// Fails the check unless |left - right| < tolerance, strictly, in the common floating type of
// the three: a NaN fails, and so do two equal infinities.
#define SARNIVELLE_ASSERT_NEAR(left, right, tolerance, ...)                                        \
    do {                                                                                           \
        const auto& sarnivelle_left_ = (left);                                                     \
        const auto& sarnivelle_right_ = (right);                                                   \
        const auto& sarnivelle_tolerance_ = (tolerance);                                           \
        std::common_type_t<std::decay_t<decltype(sarnivelle_left_)>,                               \
                           std::decay_t<decltype(sarnivelle_right_)>,                              \
                           std::decay_t<decltype(sarnivelle_tolerance_)>>                          \
            sarnivelle_difference_{};                                                              \
        if (!::runner::detail::near(sarnivelle_left_, sarnivelle_right_, sarnivelle_tolerance_,    \
                                    sarnivelle_difference_)) {                                     \
            ::runner::detail::near_failed(::runner::SourceLocation::current(),                     \
                                          {#left, #right, ::runner::display(sarnivelle_left_),     \
                                           ::runner::display(sarnivelle_right_)},                  \
                                          #tolerance, ::runner::display(sarnivelle_difference_),   \
                                          ::runner::display(sarnivelle_tolerance_),                \
                                          ::runner::detail::optional_message(__VA_ARGS__));        \
        }                                                                                          \
    } while (false)

// Fails the check unless left and right, both float or both double, lie at most max_ulps
// representable values apart. A NaN never passes; -0 and +0 are 0 apart.
#define SARNIVELLE_ASSERT_ULPS(left, right, max_ulps, ...)                                         \
    do {                                                                                           \
        const auto& sarnivelle_left_ = (left);                                                     \
        const auto& sarnivelle_right_ = (right);                                                   \
        static_assert(std::is_same_v<std::decay_t<decltype(sarnivelle_left_)>,                     \
                                     std::decay_t<decltype(sarnivelle_right_)>>,                   \
                      "SARNIVELLE_ASSERT_ULPS compares two floats or two doubles");                \
        const std::uint64_t sarnivelle_max_ = (max_ulps);                                          \
        const auto sarnivelle_distance_ =                                                          \
            ::runner::detail::ulps_between(sarnivelle_left_, sarnivelle_right_);                   \
        if (!sarnivelle_distance_ || *sarnivelle_distance_ > sarnivelle_max_) {                    \
            ::runner::detail::ulps_failed(::runner::SourceLocation::current(),                     \
                                          {#left, #right, ::runner::display(sarnivelle_left_),     \
                                           ::runner::display(sarnivelle_right_)},                  \
                                          #max_ulps, sarnivelle_distance_, sarnivelle_max_,        \
                                          ::runner::detail::optional_message(__VA_ARGS__));        \
        }                                                                                          \
    } while (false)

// Fails the check unless evaluating `expression` throws an exception that a
// `catch (const ExceptionType&)` catches. A failure of the check inside the expression (an
// assertion) fails the check as it is.
#define SARNIVELLE_ASSERT_THROWS(expression, ExceptionType, ...)                                   \
    do {                                                                                           \
        bool sarnivelle_caught_ = false;                                                           \
        ::std::optional<::runner::detail::Thrown> sarnivelle_other_;                               \
        try {                                                                                      \
            static_cast<void>(expression);                                                         \
        } catch (const ExceptionType&) {                                                           \
            sarnivelle_caught_ = true;                                                             \
        } catch (const ::runner::Panic&) {                                                         \
            throw;                                                                                 \
        } catch (...) {                                                                            \
            sarnivelle_other_ = ::runner::detail::thrown_now();                                    \
        }                                                                                          \
        if (!sarnivelle_caught_) {                                                                 \
            ::runner::detail::throws_failed(::runner::SourceLocation::current(), #expression,      \
                                            #ExceptionType, sarnivelle_other_,                     \
                                            ::runner::detail::optional_message(__VA_ARGS__));      \
        }                                                                                          \
    } while (false)

// Fails the check if evaluating `expression` throws. A failure of the check inside the
// expression fails the check as it is.
#define SARNIVELLE_ASSERT_NO_THROW(expression, ...)                                                \
    do {                                                                                           \
        ::std::optional<::runner::detail::Thrown> sarnivelle_thrown_;                              \
        try {                                                                                      \
            static_cast<void>(expression);                                                         \
        } catch (const ::runner::Panic&) {                                                         \
            throw;                                                                                 \
        } catch (...) {                                                                            \
            sarnivelle_thrown_ = ::runner::detail::thrown_now();                                   \
        }                                                                                          \
        if (sarnivelle_thrown_) {                                                                  \
            ::runner::detail::no_throw_failed(::runner::SourceLocation::current(), #expression,    \
                                              *sarnivelle_thrown_,                                 \
                                              ::runner::detail::optional_message(__VA_ARGS__));    \
        }                                                                                          \
    } while (false)
