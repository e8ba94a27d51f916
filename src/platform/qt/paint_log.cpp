#include "platform/qt/paint_log.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>

bool PaintLogOn() {
    static const bool on = std::getenv("LUMORA_PAINT_LOG") != nullptr;
    return on;
}

void PaintLog(const char* what, int a, int b, int c) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::fprintf(stderr, "lumora-%s %lld.%06ld %d %d %d\n", what,
                 static_cast<long long>(now.tv_sec), now.tv_nsec / 1000, a, b, c);
}
