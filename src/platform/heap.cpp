#include "platform/heap.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

CPrivateHeap::~CPrivateHeap() {
    for (void* block : blocks_) std::free(block);
}

void* CPrivateHeap::Track(void* block) {
    if (!block) return nullptr;
    try {
        blocks_.push_back(block);
    } catch (...) {
        std::free(block);
        return nullptr;
    }
    return block;
}

void* CPrivateHeap::Alloc(size_t bytes) { return Track(std::malloc(bytes ? bytes : 1)); }

// No huge-page hint here: with the kernel's usual "defrag madvise" setting a hinted fault may
// compact memory first, and in the viewer that cost more system time than it saved.
void* CPrivateHeap::AllocZeroed(size_t bytes) { return Track(std::calloc(1, bytes ? bytes : 1)); }

void CPrivateHeap::Free(void* block) {
    if (!block) return;
    auto it = std::find(blocks_.begin(), blocks_.end(), block);
    if (it == blocks_.end()) return;
    blocks_.erase(it);
    std::free(block);
}

void AdviseHugePages(void* at, size_t bytes) {
    constexpr uintptr_t kHuge = uintptr_t{2} << 20;
    const uintptr_t from = (reinterpret_cast<uintptr_t>(at) + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(at) + bytes) & ~(kHuge - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}
