#include "fuzz/fuzz_read.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzReadImage(data, size, ".webp");
    FuzzReadRowsHandedOn(data, size, ".webp");  // the only reader that recycles rows it handed out
    return 0;
}
