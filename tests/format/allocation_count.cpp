// Replaces the global operator new and delete, counting each allocation. A file of its own, so
// that the compiler never sees a replaced delete beside a new it did not make.
#include "allocation_count.hpp"

#include <cstdlib>
#include <new>

namespace {
thread_local std::size_t allocations = 0;
} // namespace

std::size_t test_support::allocations_of_this_thread() {
    return allocations;
}

void* operator new(std::size_t size) {
    ++allocations;
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

// The standard library's temporary buffers (std::stable_sort) come from the nothrow form and go
// back through the plain delete: both must be this file's, or a sanitizer's allocator sees its
// memory freed by another.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    ++allocations;
    return std::malloc(size == 0 ? 1 : size);
}

void operator delete(void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}
