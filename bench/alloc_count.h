// Counts every heap allocation the process makes, the desktop backend's SDL
// included.
//
// alloc_count.cpp defines malloc and its siblings in the benchmark
// executable itself; the dynamic linker then binds every shared library's
// malloc to them too, so allocations made inside SDL and the C++ library
// (operator new) are counted, not only those of our own objects.
#pragma once

#include <cstdint>

namespace alloc_count {

// Allocations (malloc, calloc, realloc of a new block, aligned variants,
// operator new through malloc) since the process started.
std::uint64_t Allocations();

}  // namespace alloc_count
