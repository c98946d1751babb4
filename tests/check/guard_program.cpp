// Small check programs for the registry tests, one per GUARD_PROGRAM value:
//   1 a registry that leaves out a defined check;
//   2 a registry that lists a check twice;
//   3 a correct registry handed over without lang_start;
//   4 a correct registry;
//   5 every defined check registered automatically, with those of a shared library and the
//     checks that carry attributes.
// The tests find declarations here by their text, so keep each check's name unique.
#include <array>
#include <stdexcept>

#include "runner/check.hpp"
#include "runner/runner.hpp"

namespace guard::tests {

SARNIVELLE_CHECK(guard, listed) {}

SARNIVELLE_CHECK(guard, forgotten) {
    SARNIVELLE_ASSERT_EQ(1, 2);
}

#if GUARD_PROGRAM == 5
SARNIVELLE_CHECK(guard, attr_ignored_plain, ignored) {
    SARNIVELLE_ASSERT(false);
}

SARNIVELLE_CHECK(guard, attr_ignored_reason, ignored("needs a terminal")) {
    SARNIVELLE_ASSERT(false);
}

SARNIVELLE_CHECK(guard, attr_expected_failure, expected_failure) {
    throw std::runtime_error("any failure will do");
}

SARNIVELLE_CHECK(guard, attr_expected_text, expected_failure("out of range")) {
    SARNIVELLE_ASSERT_LT(3, 2, "index {} out of range", 3);
}

SARNIVELLE_CHECK(guard, attr_expected_but_passes, expected_failure("never")) {}
#endif

} // namespace guard::tests

#if GUARD_PROGRAM == 5
// Used, so that a linker that drops unused shared libraries keeps the one of shared_checks.cpp.
namespace shared::tests {
extern constinit const runner::StaticTestDescAndFn from_a_shared_library_check;
[[gnu::used]] const void* const keep_the_library = &from_a_shared_library_check;
} // namespace shared::tests

SARNIVELLE_MAIN()
#else
namespace {
namespace t = guard::tests;
#if GUARD_PROGRAM == 1
constexpr std::array registry = {&t::listed_check};
#elif GUARD_PROGRAM == 2
constexpr std::array registry = {&t::forgotten_check, &t::listed_check, &t::forgotten_check};
#else
constexpr std::array registry = {&t::forgotten_check, &t::listed_check};
#endif

void entry() {
    runner::test_main_static(registry);
}
} // namespace

int main(int argc, char** argv) {
#if GUARD_PROGRAM == 3
    (void)argc;
    (void)argv;
    entry();
    return 0;
#else
    return runner::lang_start(argc, argv, &entry);
#endif
}
#endif
