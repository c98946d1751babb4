// A preloaded allocator wrapper that makes one chosen allocation of a chosen thread fail, for
// testing what a program does when memory runs out at an awkward moment.
//
//   FAIL_MALLOC_THREAD  prefix of the thread names (as the system keeps them) to watch
//   FAIL_MALLOC_NTH     which allocation of each watched thread returns NULL, from 1
//
// Every other allocation goes to the C library's own allocator.
#include <pthread.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* __libc_calloc(std::size_t count, std::size_t size);
extern "C" void* __libc_realloc(void* old, std::size_t size);

namespace {

thread_local unsigned long watched_allocations = 0;
thread_local bool inside = false;

// True when this allocation is the one to refuse.
bool refuse() {
    if (inside) {
        return false;
    }
    inside = true;
    bool result = false;
    const char* prefix = std::getenv("FAIL_MALLOC_THREAD");
    const char* nth = std::getenv("FAIL_MALLOC_NTH");
    char name[16] = {};
    if (prefix != nullptr && nth != nullptr &&
        pthread_getname_np(pthread_self(), name, sizeof name) == 0 &&
        std::strncmp(name, prefix, std::strlen(prefix)) == 0) {
        result = ++watched_allocations == std::strtoul(nth, nullptr, 10);
    }
    inside = false;
    return result;
}

} // namespace

extern "C" void* malloc(std::size_t size) {
    if (refuse()) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_malloc(size);
}

extern "C" void* calloc(std::size_t count, std::size_t size) {
    if (refuse()) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* old, std::size_t size) {
    if (refuse()) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_realloc(old, size);
}
