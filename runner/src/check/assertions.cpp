// The failure texts of the comparing assertions.
#include "runner/assertions.hpp"

#include <cxxabi.h>

#include <bit>

namespace runner::detail {
namespace {

std::string_view operator_text(Relation relation) {
    switch (relation) {
    case Relation::Ne:
        return "!=";
    case Relation::Lt:
        return "<";
    case Relation::Le:
        return "<=";
    case Relation::Gt:
        return ">";
    case Relation::Ge:
        return ">=";
    }
    return "?";
}

// "assertion {what} failed", then ": {message}" when there is one.
std::string head(std::string_view what, const std::string& message) {
    std::string text = "assertion ";
    text += what;
    text += " failed";
    if (!message.empty()) {
        text += ": ";
        text += message;
    }
    return text;
}

std::string values(const Comparison& comparison) {
    return "\n  left: " + comparison.left_value + "\n right: " + comparison.right_value;
}

std::string thrown_text(const Thrown& thrown) {
    if (!thrown.what) {
        return thrown.type;
    }
    return thrown.type + "(" + debug_quoted(*thrown.what) + ")";
}

template <class Bits, class Float>
std::optional<std::uint64_t> ulps_of(Float left, Float right) {
    if (std::isnan(left) || std::isnan(right)) {
        return std::nullopt;
    }
    constexpr Bits sign = Bits(1) << (sizeof(Bits) * 8 - 1);
    const auto left_bits = std::bit_cast<Bits>(left);
    const auto right_bits = std::bit_cast<Bits>(right);
    const std::uint64_t left_magnitude = left_bits & static_cast<Bits>(~sign);
    const std::uint64_t right_magnitude = right_bits & static_cast<Bits>(~sign);
    if ((left_bits & sign) == (right_bits & sign)) {
        return left_magnitude > right_magnitude ? left_magnitude - right_magnitude
                                                : right_magnitude - left_magnitude;
    }
    // On either side of zero: each magnitude is below 2^63, so the sum fits.
    return left_magnitude + right_magnitude;
}

} // namespace

void relation_failed(SourceLocation where, Relation relation, const Comparison& comparison,
                     const std::string& message) {
    const std::string assertion = "`" + std::string(comparison.left_text) + " " +
                                  std::string(operator_text(relation)) + " " +
                                  std::string(comparison.right_text) + "`";
    panic(head(assertion, message) + values(comparison), where);
}

void near_failed(SourceLocation where, const Comparison& comparison,
                 std::string_view tolerance_text, const std::string& difference,
                 const std::string& tolerance, const std::string& message) {
    const std::string assertion = "`|" + std::string(comparison.left_text) + " - " +
                                  std::string(comparison.right_text) + "| < " +
                                  std::string(tolerance_text) + "`";
    panic(head(assertion, message) + values(comparison) + "\n  diff: " + difference +
              " (tolerance " + tolerance + ")",
          where);
}

std::optional<std::uint64_t> ulps_between(float left, float right) {
    return ulps_of<std::uint32_t>(left, right);
}

std::optional<std::uint64_t> ulps_between(double left, double right) {
    return ulps_of<std::uint64_t>(left, right);
}

void ulps_failed(SourceLocation where, const Comparison& comparison, std::string_view max_text,
                 std::optional<std::uint64_t> distance, std::uint64_t max_ulps,
                 const std::string& message) {
    const std::string assertion = "`ulps(" + std::string(comparison.left_text) + ", " +
                                  std::string(comparison.right_text) +
                                  ") <= " + std::string(max_text) + "`";
    const std::string apart = distance ? std::to_string(*distance) : "none, a NaN never passes";
    panic(head(assertion, message) + values(comparison) + "\n  ulps: " + apart + " (at most " +
              std::to_string(max_ulps) + ")",
          where);
}

Thrown thrown_now() {
    try {
        throw;
    } catch (const std::exception& error) {
        return {demangled_type_name(typeid(error)), std::string(error.what())};
    } catch (...) {
        const std::type_info* type = abi::__cxa_current_exception_type();
        return {type != nullptr ? demangled_type_name(*type) : "an unknown type", std::nullopt};
    }
}

void throws_failed(SourceLocation where, std::string_view expression_text,
                   std::string_view type_text, const std::optional<Thrown>& thrown,
                   const std::string& message) {
    const std::string assertion =
        "`" + std::string(expression_text) + "` throws `" + std::string(type_text) + "`";
    panic(head(assertion, message) + "\n threw: " + (thrown ? thrown_text(*thrown) : "nothing"),
          where);
}

void no_throw_failed(SourceLocation where, std::string_view expression_text, const Thrown& thrown,
                     const std::string& message) {
    const std::string assertion = "`" + std::string(expression_text) + "` throws nothing";
    panic(head(assertion, message) + "\n threw: " + thrown_text(thrown), where);
}

} // namespace runner::detail
