// Every allocation through operator new in the program that links allocation_count.cpp is
// counted, per thread.
#pragma once

#include <cstddef>

namespace test_support {

// How many times the calling thread has called operator new so far.
std::size_t allocations_of_this_thread();

} // namespace test_support
