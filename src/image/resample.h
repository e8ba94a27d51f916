#pragma once

#include <cstdint>

class INextLine;

// Linear light: entry v is (v / 255) ^ 2.2.
extern float g_linearLight[256];
// Back to 8 bits: entry i is trunc((i / 200000) ^ (1 / 2.2) * 255); entries above 200000 are
// 255 and absorb intensities slightly above 1.
constexpr int kOutputGammaSize = 250000;
extern uint8_t g_outputGamma[kOutputGammaSize];

// Builds both tables once; later calls do nothing. Call before the first resample.
void BuildGammaTables();
// Entry i of the output table, computed on its own.
int OutputGammaEntry(int32_t i);

// Told after every display row; answers whether the path must end now (the loader's progress
// and stop rules live behind it).
class IRowHook {
public:
    virtual bool AfterRow(int32_t row) = 0;

protected:
    ~IRowHook() = default;
};

// Everything a resampling path works on.
struct ResampleJob {
    INextLine* lines = nullptr;  // where the source rows come from
    bool fromReader = false;  // a reader writes rows into the source buffer; else the image points
    uint8_t* source = nullptr;
    int32_t sourceStride = 0;
    int32_t sourceWidth = 0;
    int32_t sourceHeight = 0;
    int32_t* currentLine = nullptr;  // the image's index of the last source row read
    uint8_t* display = nullptr;
    int32_t displayStride = 0;
    int32_t displayWidth = 0;
    int32_t displayHeight = 0;
    int bytesPerPixel = 3;  // of both images: 3 or 4
    bool rgbOrder = false;  // source pixels come R, G, B
    IRowHook* hook = nullptr;
    // Box path from a reader only: the rows are read ahead on a thread of their own into a few
    // rows of working memory and not kept; there is no source buffer (source is unused).
    bool streaming = false;
    // Set by a path that could not get its working memory and ended early: the display rows
    // from there on were never written.
    mutable bool outOfMemory = false;
};

// Which inner loops the paths use. Every set gives identical bytes; the best one the processor
// supports is chosen at start-up. Tests and benchmarks switch sets to compare them.
enum class ResampleKernels { kPortable, kAvx2, kAvx512 };
// False (and nothing changes) when the processor cannot run that set.
bool UseResampleKernels(ResampleKernels kernels);
ResampleKernels ActiveResampleKernels();

// Area averaging for a display smaller than the source in both directions. Returns true when
// the hook stopped it.
bool RunBoxPath(const ResampleJob& job);
// Windowed sinc (two lobes, stretched by 1.25) for enlarging.
bool RunSincPath(const ResampleJob& job);
// No resampling: the line source writes every row straight into the source buffer, which is
// also the display buffer; R, G, B rows are turned into B, G, R in place.
bool RunDirectPath(const ResampleJob& job);
