// malloc for the test executables, which link with -Wl,--wrap=malloc: fails
// while seam::FailNextAlloc has failures armed, and is the real one otherwise.
#include <cstddef>

extern "C" {
extern int vn_seam_fail_allocs;
extern long vn_seam_alloc_skip;
extern long vn_seam_alloc_uses;
void* __real_malloc(std::size_t size);

void* __wrap_malloc(std::size_t size) {
    ++vn_seam_alloc_uses;
    if (vn_seam_fail_allocs > 0 && vn_seam_alloc_skip > 0) {
        --vn_seam_alloc_skip;
    } else if (vn_seam_fail_allocs > 0) {
        --vn_seam_fail_allocs;
        return nullptr;
    }
    return __real_malloc(size);
}
}
