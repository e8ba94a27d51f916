#include "fuzz/fail_alloc.h"

#include <cstddef>
#include <new>

namespace {

// Smaller blocks failing leave a process that can do nothing anyway; the large ones, sized by
// what a file declares, are the ones that do fail.
constexpr size_t kSmallestFailing = 4096;

thread_local bool t_armed = false;
thread_local uint32_t t_counted = 0;
thread_local uint32_t t_failAt = 0;

bool Fails(size_t bytes) {
    return t_armed && bytes >= kSmallestFailing && ++t_counted == t_failAt;
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

// The linker sends this program's calls of operator new here (-Wl,--wrap, fuzz/CMakeLists.txt);
// the blocks still come from the real one, so the sanitizers see every allocation and free as
// before. Mangled names: new and new[], plain, nothrow, aligned, aligned nothrow.
extern "C" {
void* __real__Znwm(size_t);
void* __real__Znam(size_t);
void* __real__ZnwmRKSt9nothrow_t(size_t, const std::nothrow_t&) noexcept;
void* __real__ZnamRKSt9nothrow_t(size_t, const std::nothrow_t&) noexcept;
void* __real__ZnwmSt11align_val_t(size_t, std::align_val_t);
void* __real__ZnamSt11align_val_t(size_t, std::align_val_t);
void* __real__ZnwmSt11align_val_tRKSt9nothrow_t(size_t, std::align_val_t,
                                                const std::nothrow_t&) noexcept;
void* __real__ZnamSt11align_val_tRKSt9nothrow_t(size_t, std::align_val_t,
                                                const std::nothrow_t&) noexcept;

void* __wrap__Znwm(size_t bytes) {
    if (Fails(bytes)) throw std::bad_alloc();
    return __real__Znwm(bytes);
}
void* __wrap__Znam(size_t bytes) {
    if (Fails(bytes)) throw std::bad_alloc();
    return __real__Znam(bytes);
}
void* __wrap__ZnwmRKSt9nothrow_t(size_t bytes, const std::nothrow_t& tag) noexcept {
    return Fails(bytes) ? nullptr : __real__ZnwmRKSt9nothrow_t(bytes, tag);
}
void* __wrap__ZnamRKSt9nothrow_t(size_t bytes, const std::nothrow_t& tag) noexcept {
    return Fails(bytes) ? nullptr : __real__ZnamRKSt9nothrow_t(bytes, tag);
}
void* __wrap__ZnwmSt11align_val_t(size_t bytes, std::align_val_t alignment) {
    if (Fails(bytes)) throw std::bad_alloc();
    return __real__ZnwmSt11align_val_t(bytes, alignment);
}
void* __wrap__ZnamSt11align_val_t(size_t bytes, std::align_val_t alignment) {
    if (Fails(bytes)) throw std::bad_alloc();
    return __real__ZnamSt11align_val_t(bytes, alignment);
}
void* __wrap__ZnwmSt11align_val_tRKSt9nothrow_t(size_t bytes, std::align_val_t alignment,
                                                const std::nothrow_t& tag) noexcept {
    return Fails(bytes) ? nullptr
                        : __real__ZnwmSt11align_val_tRKSt9nothrow_t(bytes, alignment, tag);
}
void* __wrap__ZnamSt11align_val_tRKSt9nothrow_t(size_t bytes, std::align_val_t alignment,
                                                const std::nothrow_t& tag) noexcept {
    return Fails(bytes) ? nullptr
                        : __real__ZnamSt11align_val_tRKSt9nothrow_t(bytes, alignment, tag);
}
}
