#include "fuzz/fuzz_read.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzReadImage(data, size, ".jxl");
    return 0;
}
