// Runs a check body and reports how it ended, so a test can assert that a check fails.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "runner/check.hpp"

namespace sarnivelle_scenery_bake::testing {

// The failure message of `body`, or nothing when it returns normally.
template <class Body>
std::optional<std::string> failure_of(const Body& body) {
    try {
        body();
    } catch (const runner::Panic& failure) {
        return failure.payload().message();
    }
    return std::nullopt;
}

// Expects `body` to fail with a message that contains `part`.
template <class Body>
void expect_failure(const Body& body, std::string_view part) {
    const std::optional<std::string> message = failure_of(body);
    ASSERT_TRUE(message.has_value()) << "passed, but should have failed with: " << part;
    EXPECT_NE(message->find(part), std::string::npos) << *message;
}

} // namespace sarnivelle_scenery_bake::testing
