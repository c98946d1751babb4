// Runs a check body over deliberately faulty operations and expects it to fail.
#pragma once

#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "runner/check.hpp"

namespace sarnivelle_scenery_bake::testing {

// A check body, the faulty operations it runs on, and a part of the message it must fail with.
template <class Operations>
struct Fault {
    void (*check)(const Operations&);
    Operations ops;
    std::string_view message;
};

template <class Operations>
void expect_failure(const Fault<Operations>& fault) {
    try {
        fault.check(fault.ops);
    } catch (const runner::Panic& failure) {
        EXPECT_NE(failure.payload().message().find(fault.message), std::string::npos)
            << failure.payload().message();
        return;
    }
    ADD_FAILURE() << "passed, but should have failed with: " << fault.message;
}

} // namespace sarnivelle_scenery_bake::testing
