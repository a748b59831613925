// The counting allocator: thin wrappers over glibc's own entry points.
//
// glibc exports its allocator under __libc_* names, so these wrappers need
// no dlsym (which itself allocates) and work from the first allocation of
// the process, before main.
#include "bench/alloc_count.h"

#include <atomic>
#include <cerrno>
#include <cstddef>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);
}

namespace {
// SDL may start helper threads, so the counter is atomic.
std::atomic<std::uint64_t> allocations{0};

void Count() {
    allocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

namespace alloc_count {
std::uint64_t Allocations() {
    return allocations.load(std::memory_order_relaxed);
}
}  // namespace alloc_count

extern "C" {

void* malloc(size_t size) {
    Count();
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    Count();
    return __libc_calloc(count, size);
}

// Growing or moving a block costs as much as a fresh one; shrinking in place
// and freeing through realloc(p, 0) are not counted.
void* realloc(void* block, size_t size) {
    if (block == nullptr || size != 0) Count();
    return __libc_realloc(block, size);
}

void free(void* block) {
    __libc_free(block);
}

void* memalign(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, size_t alignment, size_t size) {
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
    Count();
    void* block = __libc_memalign(alignment, size);
    if (block == nullptr) return ENOMEM;
    *result = block;
    return 0;
}

}  // extern "C"
