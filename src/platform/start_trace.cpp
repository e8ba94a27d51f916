#include "platform/start_trace.h"

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

double Milliseconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The process's start in CLOCK_BOOTTIME milliseconds, from /proc (clock ticks since boot, so
// to 10 ms); the dynamic loader's work before main() is then counted too.
double ProcessStart() {
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The command name may hold blanks and parentheses: fields are counted after the last ')'.
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return Milliseconds(CLOCK_BOOTTIME);
    const char* p = text.c_str() + close + 1;
    // Field 22 is the start time; the text after ')' begins with field 3.
    for (int field = 3; field < 22 && *p; ++field) {
        while (*p == ' ') ++p;
        while (*p && *p != ' ') ++p;
    }
    const double ticks = std::strtod(p, nullptr);
    const long perSecond = sysconf(_SC_CLK_TCK);
    if (ticks <= 0 || perSecond <= 0) return Milliseconds(CLOCK_BOOTTIME);
    return ticks * 1e3 / static_cast<double>(perSecond);
}

}  // namespace

bool StartTraceOn() {
    static const bool on = [] {
        const char* value = std::getenv("LUMORA_LOG");
        return value && std::strcmp(value, "1") == 0;
    }();
    return on;
}

void TraceStartStep(const char* step, long a) {
    if (!StartTraceOn()) return;
    static const double start = ProcessStart();
    const double now = Milliseconds(CLOCK_BOOTTIME) - start;
    if (a < 0)
        std::fprintf(stderr, "lumora-start %.1f %s\n", now, step);
    else
        std::fprintf(stderr, "lumora-start %.1f %s %ld\n", now, step, a);
}
