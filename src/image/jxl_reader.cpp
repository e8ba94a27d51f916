#include "image/jxl_reader.h"

#include <lcms2.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "image/decode_threads.h"
#include "image/decoder_libraries.h"
#include "platform/file_io.h"
#include "platform/heap.h"

namespace {

// Larger profiles are not applied; real ones are a few KiB.
constexpr size_t kMaxProfile = size_t{16} << 20;

// Every block carries its size in front, so that a free can be counted back; 64 bytes keep the
// alignment malloc gives.
constexpr size_t kBlockHeader = 64;

// The decoder's allocations, counted against a cap. Used by one thread at a time.
struct Budget {
    size_t cap = CJxlReader::kBaseBudget;
    size_t used = 0;
    size_t peak = 0;
    bool refused = false;
};

void* BudgetAlloc(void* opaque, size_t size) {
    auto* budget = static_cast<Budget*>(opaque);
    if (size > budget->cap - budget->used) {
        budget->refused = true;
        return nullptr;
    }
    auto* block = static_cast<uint8_t*>(std::malloc(size + kBlockHeader));
    if (!block) {
        budget->refused = true;
        return nullptr;
    }
    std::memcpy(block, &size, sizeof size);
    budget->used += size;
    if (budget->used > budget->peak) budget->peak = budget->used;
    return block + kBlockHeader;
}

void BudgetFree(void* opaque, void* address) {
    if (!address) return;
    auto* budget = static_cast<Budget*>(opaque);
    uint8_t* block = static_cast<uint8_t*>(address) - kBlockHeader;
    size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    budget->used -= size;
    std::free(block);
}

// The library's own containers allocate with operator new: a refusal there comes out of the
// call as an exception, and ends the decode as an error.
JxlDecoderStatus Process(JxlDecoder* decoder, Budget& budget) {
    try {
        return Jxl().JxlDecoderProcessInput(decoder);
    } catch (const std::bad_alloc&) {
        budget.refused = true;
        return JXL_DEC_ERROR;
    }
}

JxlDecoderStatus Flush(JxlDecoder* decoder, Budget& budget) {
    try {
        return Jxl().JxlDecoderFlushImage(decoder);
    } catch (const std::bad_alloc&) {
        budget.refused = true;
        return JXL_DEC_ERROR;
    }
}

JxlColorEncoding Srgb(bool grey) {
    JxlColorEncoding encoding{};
    encoding.color_space = grey ? JXL_COLOR_SPACE_GRAY : JXL_COLOR_SPACE_RGB;
    encoding.white_point = JXL_WHITE_POINT_D65;
    encoding.primaries = JXL_PRIMARIES_SRGB;
    encoding.transfer_function = JXL_TRANSFER_FUNCTION_SRGB;
    encoding.rendering_intent = JXL_RENDERING_INTENT_PERCEPTUAL;
    return encoding;
}

bool IsSrgb(const JxlColorEncoding& encoding) {
    return encoding.white_point == JXL_WHITE_POINT_D65 &&
           encoding.transfer_function == JXL_TRANSFER_FUNCTION_SRGB &&
           (encoding.color_space == JXL_COLOR_SPACE_GRAY ||
            (encoding.color_space == JXL_COLOR_SPACE_RGB &&
             encoding.primaries == JXL_PRIMARIES_SRGB));
}

}  // namespace

// One file's decode. OpenFile reads the header with it on the opening thread; from the first
// row on, only the decode thread touches its decoder, input and counts. Rows before
// `published` are final and no longer written; `failure` is written before `ended` is set.
struct JxlDecodeJob final : CDecodeJob {
    ~JxlDecodeJob() override {
        if (decoder) Jxl().JxlDecoderDestroy(decoder);
        EndThreads();
        if (file) std::fclose(file);
    }

    bool Open(const std::string& path);
    // A pool of libjxl's threads for a large file; without one the decoder works alone.
    void StartThreads();
    void EndThreads() {
        if (runner) JxlThreads().JxlThreadParallelRunnerDestroy(runner);
        runner = nullptr;
    }
    bool ReadHeader();
    // Makes the Little CMS transform to sRGB of the decoded pixels, when they need one.
    void* ChooseColour(const JxlBasicInfo& info);
    // Reads more of the file behind what the decoder has not consumed yet.
    bool Feed();
    // One step of the decoder: more input, the output callback, or the end of the frame.
    void Step();
    bool SetOutput();
    void Fail(const std::string& reason);
    void Publish();
    static void TakePixels(void* opaque, size_t x, size_t y, size_t count, const void* pixels);
    // On the decode thread: steps the decoder until the frame is whole, broken or left.
    void Decode() override;
    void Discard() override {
        heap.reset();
        picture = nullptr;
    }

    Budget budget;
    FILE* file = nullptr;
    int64_t fileSize = 0;
    bool fileEnded = false;
    JxlDecoder* decoder = nullptr;
    void* runner = nullptr;  // libjxl's thread pool, destroyed after the decoder
    std::vector<uint8_t> input;  // the bytes given to the decoder, from the start
    size_t inputBytes = 0;
    bool inputSet = false;
    JxlBasicInfo info{};
    int32_t width = 0;
    int32_t height = 0;
    int bytesPerPixel = 3;
    std::unique_ptr<CPrivateHeap> heap;
    uint8_t* picture = nullptr;    // rows of width x bytesPerPixel, no padding, top row first
    std::vector<uint32_t> filled;  // pixels delivered so far per row
    int32_t complete = 0;          // rows before this one have all their pixels
    bool finished = false;         // the first frame is whole
    bool broken = false;           // no more rows will come
    std::string failure;

    std::atomic<int32_t> published{0};
    std::mutex lock;
    std::condition_variable changed;
    bool ended = false;  // under lock
};

bool JxlDecodeJob::Open(const std::string& path) {
    file = OpenRegularFileStream(path);
    if (!file) return false;
    if (std::fseek(file, 0, SEEK_END) == 0) fileSize = std::ftell(file);
    std::rewind(file);
    const JxlMemoryManager memory{&budget, BudgetAlloc, BudgetFree};
    decoder = Jxl().JxlDecoderCreate(&memory);
    if (!decoder) {
        failure = "out of memory";
        return false;
    }
    // The library turns the picture upright by the code stream's orientation itself (keep
    // orientation stays off), so the sizes declared are the upright ones.
    StartThreads();
    if (Jxl().JxlDecoderSubscribeEvents(decoder, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING |
                                                     JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS ||
        Jxl().JxlDecoderSetUnpremultiplyAlpha(decoder, JXL_TRUE) != JXL_DEC_SUCCESS) {
        failure = "JPEG XL library refused its settings";
        return false;
    }
    try {
        input.resize(CJxlReader::kChunk);
    } catch (const std::bad_alloc&) {
        failure = "out of memory";
        return false;
    }
    return ReadHeader();
}

void JxlDecodeJob::StartThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    std::string why;
    if (fileSize < CJxlReader::kThreadedFileBytes || cores < 2 || !OpenJxlThreadsLibrary(&why))
        return;
    runner = JxlThreads().JxlThreadParallelRunnerCreate(nullptr,
                                                         std::min(cores, CJxlReader::kMaxThreads));
    if (runner && Jxl().JxlDecoderSetParallelRunner(decoder, JxlThreads().JxlThreadParallelRunner,
                                                    runner) != JXL_DEC_SUCCESS)
        EndThreads();
}

bool JxlDecodeJob::ReadHeader() {
    for (;;) {
        const JxlDecoderStatus status = Process(decoder, budget);
        if (status == JXL_DEC_NEED_MORE_INPUT) {
            const bool first = inputBytes == 0 && !inputSet;
            if (!Feed()) {
                failure = !fileEnded ? "out of memory"
                          : first    ? "not a JPEG XL file"
                                     : "truncated JPEG XL header";
                return false;
            }
            if (first) {
                // Anything but a JPEG XL signature is refused before the decoder sees it.
                const JxlSignature signature = Jxl().JxlSignatureCheck(input.data(), inputBytes);
                if (signature != JXL_SIG_CODESTREAM && signature != JXL_SIG_CONTAINER) {
                    failure = signature == JXL_SIG_NOT_ENOUGH_BYTES ? "truncated JPEG XL header"
                                                                    : "not a JPEG XL file";
                    return false;
                }
            }
        } else if (status == JXL_DEC_BASIC_INFO) {
            if (Jxl().JxlDecoderGetBasicInfo(decoder, &info) != JXL_DEC_SUCCESS) break;
            const bool turned = info.orientation >= JXL_ORIENT_TRANSPOSE;
            width = static_cast<int32_t>(turned ? info.ysize : info.xsize);
            height = static_cast<int32_t>(turned ? info.xsize : info.ysize);
            bytesPerPixel = info.alpha_bits > 0 ? 4 : 3;
            // The reader checks the size before the decoder goes on.
            return true;
        } else if (status == JXL_DEC_ERROR) {
            failure = budget.refused ? "out of memory" : "damaged JPEG XL header";
            return false;
        } else {
            break;
        }
    }
    failure = "damaged JPEG XL header";
    return false;
}

void* JxlDecodeJob::ChooseColour(const JxlBasicInfo& basic) {
    const bool grey = basic.num_color_channels == 1;
    // Pixels stored in the codec's own colour space can be had in any encoded one.
    if (!basic.uses_original_profile) {
        const JxlColorEncoding srgb = Srgb(grey);
        Jxl().JxlDecoderSetPreferredColorProfile(decoder, &srgb);
    }
    JxlColorEncoding data{};
    if (Jxl().JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                                 &data) == JXL_DEC_SUCCESS &&
        IsSrgb(data))
        return nullptr;
    // Grey comes out as three equal samples, shown as they are.
    if (grey) return nullptr;
    size_t size = 0;
    if (Jxl().JxlDecoderGetICCProfileSize(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) !=
            JXL_DEC_SUCCESS ||
        size == 0 || size > kMaxProfile)
        return nullptr;
    std::vector<uint8_t> profile;
    try {
        profile.resize(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (Jxl().JxlDecoderGetColorAsICCProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                             profile.data(), size) != JXL_DEC_SUCCESS)
        return nullptr;
    // A profile Little CMS cannot use leaves the pixels as they are.
    cmsHPROFILE in = cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(size));
    if (!in) return nullptr;
    cmsHTRANSFORM transform = nullptr;
    if (cmsGetColorSpace(in) == cmsSigRgbData) {
        if (cmsHPROFILE out = cmsCreate_sRGBProfile()) {
            const bool alpha = bytesPerPixel == 4;
            const cmsUInt32Number format = alpha ? TYPE_BGRA_8 : TYPE_BGR_8;
            transform = cmsCreateTransform(in, format, out, format, INTENT_PERCEPTUAL,
                                           alpha ? cmsFLAGS_COPY_ALPHA : 0);
            cmsCloseProfile(out);
        }
    }
    cmsCloseProfile(in);
    return transform;
}

bool JxlDecodeJob::Feed() {
    if (inputSet) {
        const size_t unused = Jxl().JxlDecoderReleaseInput(decoder);
        inputSet = false;
        if (unused <= inputBytes) {
            std::memmove(input.data(), input.data() + (inputBytes - unused), unused);
            inputBytes = unused;
        }
    }
    if (fileEnded) return false;
    if (inputBytes == input.size()) {
        // The decoder needs a longer piece than it holds (one section of a small picture may
        // be the whole frame): it gets room for more, never much more than the file.
        if (fileSize > 0 && input.size() > static_cast<size_t>(fileSize) + CJxlReader::kChunk) {
            fileEnded = true;
            return false;
        }
        try {
            input.resize(input.size() * 2);
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    const size_t wanted = input.size() - inputBytes;
    const size_t got = std::fread(input.data() + inputBytes, 1, wanted, file);
    if (got < wanted) fileEnded = true;
    if (got == 0) return false;
    inputBytes += got;
    if (Jxl().JxlDecoderSetInput(decoder, input.data(), inputBytes) != JXL_DEC_SUCCESS)
        return false;
    inputSet = true;
    return true;
}

bool JxlDecodeJob::SetOutput() {
    const size_t rowBytes = static_cast<size_t>(width) * bytesPerPixel;
    JxlPixelFormat format{static_cast<uint32_t>(bytesPerPixel), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN,
                          0};
    size_t size = 0;
    if (Jxl().JxlDecoderImageOutBufferSize(decoder, &format, &size) != JXL_DEC_SUCCESS ||
        size != rowBytes * height) {
        Fail("damaged JPEG XL frame");
        return false;
    }
    std::unique_ptr<CPrivateHeap> pictureHeap(new (std::nothrow) CPrivateHeap);
    uint8_t* pixels =
        pictureHeap ? static_cast<uint8_t*>(pictureHeap->Alloc(rowBytes * height)) : nullptr;
    if (!pixels) {
        Fail("out of memory");
        return false;
    }
    // Written once, row by row, and read once.
    AdviseHugePages(pixels, rowBytes * height);
    try {
        filled.assign(static_cast<size_t>(height), 0);
    } catch (const std::bad_alloc&) {
        Fail("out of memory");
        return false;
    }
    heap = std::move(pictureHeap);
    picture = pixels;
    if (Jxl().JxlDecoderSetImageOutCallback(decoder, &format, TakePixels, this) !=
        JXL_DEC_SUCCESS) {
        Fail("damaged JPEG XL frame");
        return false;
    }
    return true;
}

void JxlDecodeJob::TakePixels(void* opaque, size_t x, size_t y, size_t count, const void* pixels) {
    auto* job = static_cast<JxlDecodeJob*>(opaque);
    const size_t width = static_cast<size_t>(job->width);
    if (y >= static_cast<size_t>(job->height) || x >= width || count > width - x) return;
    // Pool threads deliver parts of one row at the same time, hence the atomic counts; the rows
    // are read only once the decoder's call has returned.
    std::atomic_ref<uint32_t> filled(job->filled[y]);
    // A whole row may be read by the reader meanwhile; a flush at the end writes it again.
    if (filled.load(std::memory_order_relaxed) >= width) return;
    const int bpp = job->bytesPerPixel;
    const auto* in = static_cast<const uint8_t*>(pixels);
    uint8_t* out = job->picture + (y * width + x) * bpp;
    if (bpp == 4) {
        for (size_t i = 0; i < count; ++i, in += 4, out += 4) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
            out[3] = in[3];
        }
    } else {
        for (size_t i = 0; i < count; ++i, in += 3, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    }
    filled.fetch_add(static_cast<uint32_t>(count), std::memory_order_relaxed);
}

void JxlDecodeJob::Fail(const std::string& reason) {
    broken = true;
    if (!failure.empty()) return;
    failure = complete > 0 ? reason + " after row " + std::to_string(complete - 1) : reason;
}

void JxlDecodeJob::Publish() {
    while (complete < height && !filled.empty() && filled[complete] >= static_cast<uint32_t>(width))
        ++complete;
    if (complete == published.load(std::memory_order_relaxed)) return;
    {
        std::lock_guard<std::mutex> hold(lock);
        published.store(complete, std::memory_order_release);
    }
    changed.notify_all();
}

void JxlDecodeJob::Step() {
    const JxlDecoderStatus status = Process(decoder, budget);
    switch (status) {
        case JXL_DEC_NEED_MORE_INPUT:
            if (Feed()) return;
            // What the file held is rendered as far as it goes: finished groups as they are,
            // the others from the coarser passes that have come.
            if (fileEnded && picture && Flush(decoder, budget) == JXL_DEC_SUCCESS) Publish();
            Fail(fileEnded ? "truncated" : "out of memory");
            return;
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
            SetOutput();
            return;
        case JXL_DEC_FULL_IMAGE:
        case JXL_DEC_SUCCESS:
            // The first frame is all this reader shows.
            finished = true;
            Publish();
            if (complete < height) Fail("JPEG XL frame incomplete");
            return;
        case JXL_DEC_ERROR:
            Fail(budget.refused ? "out of memory" : "damaged JPEG XL data");
            return;
        default:
            return;
    }
}

void JxlDecodeJob::Decode() {
    while (!finished && !broken && !Abandoned()) {
        Step();
        Publish();
    }
    // The decoder and file go now, not with the job.
    Jxl().JxlDecoderDestroy(decoder);
    decoder = nullptr;
    EndThreads();
    if (file) std::fclose(file);
    file = nullptr;
    input = {};
    {
        std::lock_guard<std::mutex> hold(lock);
        ended = true;
    }
    changed.notify_all();
}

namespace {

CDecodeThreads& Threads() {
    static CDecodeThreads threads(3);
    return threads;
}

}  // namespace

void SetJxlDecodeHook(void (*hook)()) {
    Threads().SetHook(hook);
}

int JxlDecodesRunning() {
    return Threads().Running();
}

CJxlReader::CJxlReader(std::string path) : CImageReader(std::move(path)) {}

CJxlReader::~CJxlReader() {
    Close();
}

size_t CJxlReader::PeakDecoderMemory() const {
    return job_ ? job_->budget.peak : 0;
}

void CJxlReader::OpenFile() {
    CloseFile();
    lineCounter = -1;
    started_ = ended_ = false;
    std::string why;
    if (!OpenJxlLibrary(&why)) {
        Refuse(why);
        return;
    }
    auto job = std::shared_ptr<JxlDecodeJob>(new (std::nothrow) JxlDecodeJob);
    if (!job) {
        Refuse("out of memory");
        return;
    }
    job_ = job;
    if (!job->Open(path)) {
        if (!job->file) RefuseOpen();
        if (!job->failure.empty()) Refuse(job->failure);
        return;
    }
    if (!AcceptSize(job->width, job->height, job->bytesPerPixel * 8)) return;
    // A small file declaring a huge picture would have the decoder work and allocate for
    // pixels that are not there.
    const int64_t pixels = static_cast<int64_t>(job->width) * job->height;
    if (pixels > kFreePixels && job->fileSize > 0 && pixels > kMaxPixelsPerByte * job->fileSize) {
        Refuse("JPEG XL picture too large for its file");
        return;
    }
    job->budget.cap = kBaseBudget + static_cast<size_t>(pixels) * kBudgetPerPixel;
    // The colour encoding follows the basic information.
    for (;;) {
        const JxlDecoderStatus status = Process(job->decoder, job->budget);
        if (status == JXL_DEC_COLOR_ENCODING) break;
        if (status != JXL_DEC_NEED_MORE_INPUT || !job->Feed()) {
            Refuse(status == JXL_DEC_NEED_MORE_INPUT && job->fileEnded ? "truncated JPEG XL header"
                   : job->budget.refused                               ? "out of memory"
                                                                       : "damaged JPEG XL header");
            return;
        }
    }
    try {
        transform_ = job->ChooseColour(job->info);
    } catch (const std::bad_alloc&) {
        transform_ = nullptr;  // shown as the samples are
    }
    width_ = job->width;
    height_ = job->height;
    bytesPerPixel_ = job->bytesPerPixel;
    DeclareHeader(width_, -height_, bytesPerPixel_ * 8);
}

void CJxlReader::Leave() {
    if (job_) CDecodeThreads::Leave(*job_);
    job_.reset();
    Refuse("decode stopped");
}

bool CJxlReader::WaitForRow(int32_t row) {
    if (!job_) return false;
    if (!started_) {
        started_ = true;
        if (!Threads().Start(job_, decodeStopped)) {
            Leave();
            return false;
        }
    }
    // The last row waits for the decode's end too, so that its failure is known.
    const bool last = row + 1 == height_;
    if (!last && job_->published.load(std::memory_order_acquire) > row) return true;
    std::unique_lock<std::mutex> hold(job_->lock);
    while ((last || job_->published.load(std::memory_order_acquire) <= row) && !job_->ended) {
        if (decodeStopped && decodeStopped()) {
            hold.unlock();
            Leave();
            return false;
        }
        job_->changed.wait_for(hold, std::chrono::milliseconds(5));
    }
    if (job_->ended && !ended_) {
        ended_ = true;
        if (!job_->failure.empty()) Refuse(job_->failure);
    }
    return job_->published.load(std::memory_order_acquire) > row;
}

int CJxlReader::NextLine(uint8_t** row) {
    if (lineCounter + 1 >= height_) return lineCounter;
    ++lineCounter;
    if (!WaitForRow(lineCounter)) return lineCounter;  // the rows so far stay
    const size_t rowBytes = static_cast<size_t>(width_) * bytesPerPixel_;
    std::memcpy(*row, job_->picture + static_cast<size_t>(lineCounter) * rowBytes, rowBytes);
    if (transform_) cmsDoTransform(transform_, *row, *row, static_cast<cmsUInt32Number>(width_));
    return lineCounter;
}

void CJxlReader::CloseFile() {
    // A decode still running ends after its current step, on its own thread.
    if (job_) CDecodeThreads::Leave(*job_);
    job_.reset();
    if (transform_) cmsDeleteTransform(transform_);
    transform_ = nullptr;
}
