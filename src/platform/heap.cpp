#include "platform/heap.h"

#include <algorithm>
#include <cstdlib>

CPrivateHeap::~CPrivateHeap() {
    for (void* block : blocks_) std::free(block);
}

void* CPrivateHeap::Alloc(size_t bytes) {
    if (bytes == 0) bytes = 1;
    void* block = std::malloc(bytes);
    if (!block) return nullptr;
    try {
        blocks_.push_back(block);
    } catch (...) {
        std::free(block);
        return nullptr;
    }
    return block;
}

void* CPrivateHeap::AllocZeroed(size_t bytes) {
    if (bytes == 0) bytes = 1;
    void* block = std::calloc(1, bytes);
    if (!block) return nullptr;
    try {
        blocks_.push_back(block);
    } catch (...) {
        std::free(block);
        return nullptr;
    }
    return block;
}

void CPrivateHeap::Free(void* block) {
    if (!block) return;
    auto it = std::find(blocks_.begin(), blocks_.end(), block);
    if (it == blocks_.end()) return;
    blocks_.erase(it);
    std::free(block);
}
