#include "fuzz/fail_alloc.h"

#include <cstddef>
#include <cstdlib>
#include <new>

// The bounds of this program's own machine code, from the linker.
extern "C" char __executable_start[];
extern "C" char etext[];

namespace {

thread_local bool t_armed = false;
thread_local uint32_t t_counted = 0;
thread_local uint32_t t_failAt = 0;

// Smaller blocks failing leave a process that can do nothing anyway; the large ones, sized by
// what a file declares, are the ones that do fail.
constexpr size_t kSmallestFailing = 4096;

bool Fails(size_t bytes, const void* caller) {
    if (!t_armed || bytes < kSmallestFailing) return false;
    const char* at = static_cast<const char*>(caller);
    if (at < __executable_start || at >= etext) return false;
    return ++t_counted == t_failAt;
}

void* Allocate(size_t bytes, size_t alignment, const void* caller) {
    if (Fails(bytes, caller)) return nullptr;
    if (alignment <= alignof(std::max_align_t)) return std::malloc(bytes ? bytes : 1);
    // aligned_alloc wants a size that is a multiple of the alignment.
    const size_t rounded = (bytes + alignment - 1) / alignment * alignment;
    return std::aligned_alloc(alignment, rounded ? rounded : alignment);
}

void* AllocateOrThrow(size_t bytes, size_t alignment, const void* caller) {
    if (void* block = Allocate(bytes, alignment, caller)) return block;
    throw std::bad_alloc();
}

}  // namespace

void FuzzArmAllocationFailure(uint32_t n) {
    t_counted = 0;
    t_failAt = n;
    t_armed = true;
}

uint32_t FuzzDisarmAllocationFailure() {
    t_armed = false;
    return t_counted;
}

// Every form, so that no block crosses between two allocators.
void* operator new(size_t bytes) {
    return AllocateOrThrow(bytes, 0, __builtin_return_address(0));
}
void* operator new[](size_t bytes) {
    return AllocateOrThrow(bytes, 0, __builtin_return_address(0));
}
void* operator new(size_t bytes, std::align_val_t alignment) {
    return AllocateOrThrow(bytes, static_cast<size_t>(alignment), __builtin_return_address(0));
}
void* operator new[](size_t bytes, std::align_val_t alignment) {
    return AllocateOrThrow(bytes, static_cast<size_t>(alignment), __builtin_return_address(0));
}
void* operator new(size_t bytes, const std::nothrow_t&) noexcept {
    return Allocate(bytes, 0, __builtin_return_address(0));
}
void* operator new[](size_t bytes, const std::nothrow_t&) noexcept {
    return Allocate(bytes, 0, __builtin_return_address(0));
}
void* operator new(size_t bytes, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return Allocate(bytes, static_cast<size_t>(alignment), __builtin_return_address(0));
}
void* operator new[](size_t bytes, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return Allocate(bytes, static_cast<size_t>(alignment), __builtin_return_address(0));
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
void operator delete[](void* block, size_t) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
