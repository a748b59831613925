// The heap for the test executables, which link with -Wl,--wrap=malloc and
// -Wl,--wrap=free: malloc fails while seam::FailNextAlloc has failures armed
// and is the real one otherwise; operator new, which the C++ library would
// otherwise take from malloc unseen, is counted too (seam::HeapAllocations),
// though never failed (the failure sweeps stay those of malloc); and every
// block given back is counted, so that a test can tell blocks still held
// (seam::HeapBlocksHeld).
#include <cstddef>
#include <cstdlib>
#include <new>

extern "C" {
extern int vn_seam_fail_allocs;
extern long vn_seam_alloc_skip;
extern long vn_seam_alloc_uses;
extern long vn_seam_new_uses;
extern long vn_seam_blocks_held;
void* __real_malloc(std::size_t size);
void __real_free(void* block);

void* __wrap_malloc(std::size_t size) {
    ++vn_seam_alloc_uses;
    if (vn_seam_fail_allocs > 0 && vn_seam_alloc_skip > 0) {
        --vn_seam_alloc_skip;
    } else if (vn_seam_fail_allocs > 0) {
        --vn_seam_fail_allocs;
        return nullptr;
    }
    void* block = __real_malloc(size);
    if (block != nullptr) ++vn_seam_blocks_held;
    return block;
}

void __wrap_free(void* block) {
    if (block != nullptr) --vn_seam_blocks_held;
    __real_free(block);
}
}

namespace {

void* New(std::size_t size) {
    ++vn_seam_new_uses;
    void* block = __real_malloc(size != 0 ? size : 1);
    if (block == nullptr) throw std::bad_alloc();
    ++vn_seam_blocks_held;
    return block;
}

}  // namespace

void* operator new(std::size_t size) {
    return New(size);
}
void* operator new[](std::size_t size) {
    return New(size);
}
void operator delete(void* block) noexcept {
    __wrap_free(block);
}
void operator delete[](void* block) noexcept {
    __wrap_free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    __wrap_free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    __wrap_free(block);
}
