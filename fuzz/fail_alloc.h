#pragma once

#include <cstdint>

// Allocation failure on demand, for fuzzing what a load does when memory runs out at any point.
// While armed on a thread, the operator new blocks of 4 KiB or more that this program's own code
// asks for on that thread are counted, and the n-th of them (from 1) fails as allocation failure
// does: std::bad_alloc, or nullptr from the nothrow forms. Only calls made from the objects
// linked into the program are seen (the linker wraps them); the shared libraries' own blocks
// never fail, as they are built without exceptions and would be left half-changed. Blocks from
// malloc (the images' private heaps) and mapped memory are not counted either.
//
// Arms the calling thread; n = 0 only counts.
void FuzzArmAllocationFailure(uint32_t n);
// Disarms it and returns the blocks counted since it was armed.
uint32_t FuzzDisarmAllocationFailure();
