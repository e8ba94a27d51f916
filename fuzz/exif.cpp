// Exif blocks come from any photo: whatever they hold, the orientation read is one of 1 to 8,
// and nothing is read outside the block.
#include <cstdlib>

#include "image/exif.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int plain = ExifOrientation(data, size);
    const int app1 = JpegApp1Orientation(data, size);
    if (plain < 1 || plain > 8 || app1 < 1 || app1 > 8) std::abort();
    return 0;
}
