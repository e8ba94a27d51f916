#include "fuzz/fuzz_load.h"
#include "image/jxl_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzLoadImage(data, size, ".jxl");
    FuzzLoadLeavingItsDecode(data, size, ".jxl", SetJxlDecodeHook, JxlDecodesRunning);
    return 0;
}
