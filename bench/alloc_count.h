// Counts every heap allocation the process makes, SDL and FreeType included.
//
// alloc_count.cpp defines malloc and its siblings in the benchmark
// executable itself; the dynamic linker then binds every shared library's
// malloc to them too, so allocations made inside the platform layer, SDL and
// the font renderer are counted, not only those of our own objects.
#pragma once

#include <cstdint>

namespace alloc_count {

// Allocations (malloc, calloc, realloc of a new block, aligned variants,
// operator new through malloc) since the process started.
std::uint64_t Allocations();

}  // namespace alloc_count
