#pragma once

#include <cstdint>

// Allocation failure on demand, for fuzzing what a load does when memory runs out at any point.
// While armed on a thread, the operator new allocations of 4 KiB or more that this program's own
// code makes on that thread are counted, and the n-th of them (from 1) fails as allocation failure does:
// with std::bad_alloc, or nullptr for the nothrow forms. The libraries' own allocations are
// never failed: they are built without exceptions and would be left half-changed.
//
// Arms the calling thread; n = 0 only counts.
void FuzzArmAllocationFailure(uint32_t n);
// Disarms it and returns the allocations counted since it was armed.
uint32_t FuzzDisarmAllocationFailure();
