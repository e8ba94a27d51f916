#pragma once

#include <cstddef>
#include <vector>

// A private heap: blocks come from it one by one and all go back at once when it is destroyed.
// Used by one thread at a time, so it takes no lock. Allocation failure returns nullptr.
class CPrivateHeap {
public:
    CPrivateHeap() = default;
    ~CPrivateHeap();
    CPrivateHeap(const CPrivateHeap&) = delete;
    CPrivateHeap& operator=(const CPrivateHeap&) = delete;

    void* Alloc(size_t bytes);
    // Zero-filled; large blocks come straight from the kernel, already zero, without touching them.
    void* AllocZeroed(size_t bytes);
    void Free(void* block);
    size_t BlockCount() const { return blocks_.size(); }

private:
    // Records a fresh block (freeing it when even that fails).
    void* Track(void* block);

    std::vector<void*> blocks_;
};

// Asks for the whole 2 MiB pages inside [at, at + bytes) to be huge ones (a hint). An image's
// buffers are written once, row by row: in 4 KiB pages a 12 MP picture costs some 9000 page
// faults, a 1920 x 1200 display some 1700, each a trip into the kernel; huge pages take a few.
void AdviseHugePages(void* at, size_t bytes);
