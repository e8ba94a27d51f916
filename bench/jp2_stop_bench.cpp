// How long leaving a JPEG 2000, HEIF or AVIF that is still decoding holds up the window: the
// image pane's StopLoad on the GUI thread, after the load has run for a while. Files are given
// on the command line (bench/jp2_stop.sh makes 24-megapixel JPEG 2000 ones, single tile and
// tiled; bench/heif.sh 12-megapixel HEIC and AVIF). For each
// file and each delay: the wall time StopLoad blocked, the CPU time (user + system) the calling
// thread spent in it, the process's CPU time over the same span (the decoders' threads), and
// how long the decode that was left went on before it ended and freed its memory.
//
//   build/bench/jp2_stop_bench FILE ...

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "image/image.h"
#include "image/heif_reader.h"
#include "image/jp2_reader.h"
#include "image/resample.h"

namespace {

double Seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

int main(int argc, char** argv) {
    BuildGammaTables();
    std::printf("%-28s %9s %9s %11s %11s %12s %13s\n", "file", "decode ms", "stop at",
                "blocked ms", "thread CPU", "process CPU", "left ends ms");
    for (int a = 1; a < argc; ++a) {
        const std::string path = argv[a];
        const std::string name = path.substr(path.find_last_of('/') + 1);
        // A whole load at window size, for the scale of the delays.
        double start = Now();
        {
            CImage image;
            image.LoadNow(path, 1920, 1080);
            if (image.GetWidth() == 0) {
                std::printf("%-28s not decoded\n", name.c_str());
                continue;
            }
        }
        const double decodeMs = (Now() - start) * 1000;
        for (const double fraction : {0.1, 0.3, 0.5, 0.7, 0.9}) {
            const int delayMs = static_cast<int>(decodeMs * fraction);
            std::vector<double> blocked, threadCpu, processCpu, leftRuns;
            for (int repeat = 0; repeat < 3; ++repeat) {
                CImage image;
                image.Open(path);
                image.SetSizeLimit(1920, 1080, false, false);
                image.StartLoad(THREAD_PRIORITY_NORMAL);
                std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
                const double wall0 = Now();
                const double thread0 = CpuSeconds(RUSAGE_THREAD);
                const double process0 = CpuSeconds(RUSAGE_SELF);
                image.StopLoad();
                blocked.push_back((Now() - wall0) * 1000);
                threadCpu.push_back((CpuSeconds(RUSAGE_THREAD) - thread0) * 1000);
                processCpu.push_back((CpuSeconds(RUSAGE_SELF) - process0) * 1000);
                // Whatever was left ends before the next measurement.
                while (Jp2DecodesRunning() > 0 || HeifDecodesRunning() > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                leftRuns.push_back((Now() - wall0) * 1000);
            }
            auto worst = [](const std::vector<double>& v) {
                return *std::max_element(v.begin(), v.end());
            };
            std::printf("%-28s %9.0f %7d ms %11.1f %9.1f ms %9.1f ms %13.0f\n", name.c_str(),
                        decodeMs, delayMs, worst(blocked), worst(threadCpu), worst(processCpu),
                        worst(leftRuns));
        }
    }
    return 0;
}
