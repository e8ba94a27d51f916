#include "platform/heap.h"

#include <algorithm>
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

void* CPrivateHeap::AllocZeroed(size_t bytes) { return Track(std::calloc(1, bytes ? bytes : 1)); }

void CPrivateHeap::Free(void* block) {
    if (!block) return;
    auto it = std::find(blocks_.begin(), blocks_.end(), block);
    if (it == blocks_.end()) return;
    blocks_.erase(it);
    std::free(block);
}
