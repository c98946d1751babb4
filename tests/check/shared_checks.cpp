// Checks in a shared library of their own, found by a program that registers its checks
// automatically.
#include "runner/test_desc.hpp"

namespace shared::tests {

SARNIVELLE_CHECK(shared, from_a_shared_library) {}

} // namespace shared::tests
