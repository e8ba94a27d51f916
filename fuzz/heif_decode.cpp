#include "fuzz/fuzz_read.h"

// HEIC and AVIF go through the same reader, which tells them apart by content.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzReadImage(data, size, ".heic");
    return 0;
}
